# Generates the ISO 8859 code tables (parts 1 to 10, the parts 9F11 can name) at
# configure time from the C library's iconv: a small program asks iconv for every byte
# A0 to FF of each part and prints the table (cmake/iso8859_tables.cpp).
#
# Writes ${EMVTLV_ISO_CODES_GENERATED}/iso8859_tables.inc (build tree only), read by
# src/emv/code_tables.cpp. A part iconv does not know gives a row of zeros, and if the
# program cannot be built or run every row is zeros: 9F12 then shows those bytes as
# \xNN, as it does without 9F11.

set(_code_out "${EMVTLV_ISO_CODES_GENERATED}/iso8859_tables.inc")
try_run(_code_run _code_compiled
        SOURCES "${CMAKE_CURRENT_LIST_DIR}/iso8859_tables.cpp"
        COMPILE_OUTPUT_VARIABLE _code_compile_log
        RUN_OUTPUT_VARIABLE _code_table)
if(NOT _code_compiled OR NOT _code_run EQUAL 0 OR NOT _code_table MATCHES "iso8859_upper")
  message(WARNING "ISO 8859 tables could not be generated with iconv; 9F12 shows its "
                  "upper-half bytes as \\xNN")
  set(_code_table "constexpr std::array<std::array<std::uint16_t, 96>, 10> iso8859_upper{};\n")
endif()
file(WRITE "${_code_out}.tmp" "${_code_table}")
file(COPY_FILE "${_code_out}.tmp" "${_code_out}" ONLY_IF_DIFFERENT)
file(REMOVE "${_code_out}.tmp")
