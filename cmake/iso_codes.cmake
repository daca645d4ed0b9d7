# Generates the ISO currency, country and language tables from the iso-codes package's
# JSON at configure time, so the names follow the installed package, not a hand copy.
#
# Writes ${EMVTLV_ISO_CODES_GENERATED}/iso_codes_tables.inc (build tree only): three
# constexpr arrays sorted by their lookup key, read by src/emv/iso_codes.cpp. Without the
# package the arrays are empty and the build still succeeds. Re-runs whenever one of the
# JSON files changes.

set(EMVTLV_ISO_CODES_DIR "" CACHE PATH
    "Directory holding iso_4217.json, iso_3166-1.json and iso_639-2.json (empty: find it)")

set(_iso_dir "${EMVTLV_ISO_CODES_DIR}")
if(NOT _iso_dir)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_get_variable(_iso_prefix iso-codes prefix)
  endif()
  if(_iso_prefix)
    set(_iso_dir "${_iso_prefix}/share/iso-codes/json")
  else()
    set(_iso_dir "/usr/share/iso-codes/json")
  endif()
endif()

set(EMVTLV_ISO_CODES_GENERATED "${CMAKE_CURRENT_BINARY_DIR}/generated")
set(_iso_out "${EMVTLV_ISO_CODES_GENERATED}/iso_codes_tables.inc")

# A JSON string as the body of a C++ string literal. UTF-8 stays as it is; the characters
# C++ or a CMake list would read specially become octal escapes (three digits, so no
# following character can extend them).
function(_iso_cxx_literal out text)
  string(REPLACE "\\" "\\134" text "${text}")
  string(REPLACE "\"" "\\042" text "${text}")
  string(REPLACE ";" "\\073" text "${text}")
  string(REPLACE "[" "\\133" text "${text}")
  string(REPLACE "]" "\\135" text "${text}")
  string(REPLACE "\n" "\\012" text "${text}")
  string(REPLACE "\t" "\\011" text "${text}")
  string(REPLACE "\r" "\\015" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Reads the array under `key` of `file` and sets `out` to its rows, sorted: each row is
# "SORTKEY|INITIALISER" where the initialiser lists `fields` as string literals, with
# `numeric` given as a number; a field "long|short"
# takes the long one where it begins with the short one.
# Entries lacking `sort_field` are skipped.
function(_iso_rows out file key sort_field fields)
  file(READ "${file}" json)
  string(JSON count ERROR_VARIABLE error LENGTH "${json}" "${key}")
  if(error)
    message(WARNING "iso-codes: ${file} has no \"${key}\" array (${error}); its table is empty")
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  set(rows "")
  if(count GREATER 0)
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
      # One parse of the whole document per entry; the fields come from the small object.
      string(JSON entry GET "${json}" "${key}" ${i})
      string(JSON sort_value ERROR_VARIABLE error GET "${entry}" "${sort_field}")
      if(error)
        continue()
      endif()
      set(init "")
      foreach(field IN LISTS fields)
        # "long|short": the long field where it only extends the short one ("United
        # States" to "United States of America", not "France" to "French Republic").
        string(REPLACE "|" ";" choices "${field}")
        list(GET choices -1 short_field)
        string(JSON value ERROR_VARIABLE error GET "${entry}" "${short_field}")
        if(error)
          set(value "")
        endif()
        list(LENGTH choices choice_count)
        if(choice_count GREATER 1 AND NOT value STREQUAL "")
          list(GET choices 0 long_field)
          string(JSON long_value ERROR_VARIABLE error GET "${entry}" "${long_field}")
          if(NOT error)
            string(FIND "${long_value}" "${value} " at)
            if(at EQUAL 0)
              set(value "${long_value}")
            endif()
          endif()
        endif()
        if(field STREQUAL "numeric")
          if(NOT value MATCHES "^[0-9][0-9][0-9]$")
            message(WARNING "iso-codes: ${file} entry ${i} has numeric \"${value}\"; skipped")
            set(init "")
            break()
          endif()
          # Leading zeros would make an octal literal.
          string(REGEX REPLACE "^0+([0-9])" "\\1" value "${value}")
          string(APPEND init "${value}, ")
        else()
          _iso_cxx_literal(value "${value}")
          string(APPEND init "\"${value}\", ")
        endif()
      endforeach()
      if(NOT init STREQUAL "")
        _iso_cxx_literal(sort_value "${sort_value}")
        list(APPEND rows "${sort_value}|${init}")
      endif()
    endforeach()
  endif()
  list(SORT rows)
  set(${out} "${rows}" PARENT_SCOPE)
endfunction()

# Appends `constexpr std::array<TYPE, N> NAME = {...}` for `rows` to `content`.
function(_iso_array content type name rows)
  list(LENGTH rows n)
  set(text "constexpr std::array<${type}, ${n}> ${name} = {{\n")
  foreach(row IN LISTS rows)
    string(REGEX REPLACE "^[^|]*\\|(.*), $" "\\1" init "${row}")
    string(APPEND text "    {${init}},\n")
  endforeach()
  string(APPEND text "}};\n\n")
  set(${content} "${${content}}${text}" PARENT_SCOPE)
endfunction()

set(_iso_currency_json "${_iso_dir}/iso_4217.json")
set(_iso_country_json "${_iso_dir}/iso_3166-1.json")
set(_iso_language_json "${_iso_dir}/iso_639-2.json")
set(_iso_currencies "")
set(_iso_countries "")
set(_iso_languages "")
set(_iso_source "none")
if(EXISTS "${_iso_currency_json}" AND EXISTS "${_iso_country_json}"
   AND EXISTS "${_iso_language_json}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               "${_iso_currency_json}" "${_iso_country_json}" "${_iso_language_json}")
  _iso_rows(_iso_currencies "${_iso_currency_json}" 4217 numeric "numeric;alpha_3;name")
  _iso_rows(_iso_countries "${_iso_country_json}" 3166-1 numeric
            "numeric;alpha_2;alpha_3;official_name|name")
  _iso_rows(_iso_languages "${_iso_language_json}" 639-2 alpha_2 "alpha_2;name")
  set(_iso_source "${_iso_dir}")
else()
  message(WARNING "iso-codes not found in ${_iso_dir} (install the iso-codes package or set "
                  "EMVTLV_ISO_CODES_DIR): currency, country and language names will be missing")
endif()

set(_iso_content "// Generated by cmake/iso_codes.cmake from ${_iso_source}; do not edit.\n\n")
_iso_array(_iso_content iso_currency currency_table "${_iso_currencies}")
_iso_array(_iso_content iso_country country_table "${_iso_countries}")
_iso_array(_iso_content iso_language language_table "${_iso_languages}")

# Rewritten only when it changes, so a re-run of CMake does not rebuild the lookups.
file(WRITE "${_iso_out}.tmp" "${_iso_content}")
file(COPY_FILE "${_iso_out}.tmp" "${_iso_out}" ONLY_IF_DIFFERENT)
file(REMOVE "${_iso_out}.tmp")
