# The built-in CA public key table, generated at configure time from the project's key
# file data/ca-public-keys.tsv: a small program (cmake/ca_key_table.cpp, linked with
# libcrypto) checks every row's check value and prints the table. A row whose check
# value does not match stops the configuration. Editing the file re-runs this.
#
# Writes ${EMVTLV_CA_KEYS_GENERATED}/ca_key_table.inc (build tree only), read by
# src/oda/ca_keys.cpp.

set(EMVTLV_CA_KEYS_GENERATED "${CMAKE_CURRENT_BINARY_DIR}/generated/ca_keys")
set(_ca_file "${PROJECT_SOURCE_DIR}/data/ca-public-keys.tsv")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_ca_file}"
             "${CMAKE_CURRENT_LIST_DIR}/ca_key_table.cpp" "${PROJECT_SOURCE_DIR}/src/oda/ca_key_file.cpp")
try_run(_ca_run _ca_compiled
        SOURCES "${CMAKE_CURRENT_LIST_DIR}/ca_key_table.cpp"
                "${PROJECT_SOURCE_DIR}/src/oda/ca_key_file.cpp"
                "${PROJECT_SOURCE_DIR}/src/oda/crypto.cpp"
        CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${PROJECT_SOURCE_DIR}/src"
        CXX_STANDARD 20
        LINK_LIBRARIES OpenSSL::Crypto
        COMPILE_OUTPUT_VARIABLE _ca_compile_log
        RUN_OUTPUT_STDOUT_VARIABLE _ca_table
        RUN_OUTPUT_STDERR_VARIABLE _ca_errors
        ARGS "${_ca_file}")
if(NOT _ca_compiled)
  message(FATAL_ERROR "The CA key table generator did not build:\n${_ca_compile_log}")
endif()
if(NOT _ca_run EQUAL 0)
  message(FATAL_ERROR "The CA key file was refused:\n${_ca_errors}")
endif()
file(MAKE_DIRECTORY "${EMVTLV_CA_KEYS_GENERATED}")
set(_ca_out "${EMVTLV_CA_KEYS_GENERATED}/ca_key_table.inc")
file(WRITE "${_ca_out}.tmp" "${_ca_table}")
file(COPY_FILE "${_ca_out}.tmp" "${_ca_out}" ONLY_IF_DIFFERENT)
file(REMOVE "${_ca_out}.tmp")
