# Checks kv-rankd.service: systemd-analyze verify takes it without a word, and
# systemd-analyze security rates its exposure 3.0 or lower. The unit names the
# installed kv-rankd; the copy checked here, in a scratch folder removed
# afterwards, names the built one (verify wants a program that exists).
#   cmake -DSYSTEMD_ANALYZE=... -DUNIT=kv-rankd.service -DPROGRAM=build/kv-rankd -P check-unit.cmake
file(READ ${UNIT} text)
string(REGEX REPLACE "ExecStart=[^ ]+" "ExecStart=${PROGRAM}" text "${text}")
string(RANDOM LENGTH 8 tag)
get_filename_component(unit_dir ${UNIT} DIRECTORY)
set(scratch ${unit_dir}/unit-check-${tag})
file(MAKE_DIRECTORY ${scratch})
file(WRITE ${scratch}/kv-rankd.service "${text}")
execute_process(COMMAND ${SYSTEMD_ANALYZE} verify --man=no ${scratch}/kv-rankd.service
                RESULT_VARIABLE verify_rc OUTPUT_VARIABLE verify_out ERROR_VARIABLE verify_out)
execute_process(COMMAND ${SYSTEMD_ANALYZE} security --offline=true --threshold=30 ${scratch}/kv-rankd.service
                RESULT_VARIABLE security_rc OUTPUT_VARIABLE security_out ERROR_VARIABLE security_out)
file(REMOVE_RECURSE ${scratch})
string(REGEX MATCH "Overall exposure level for kv-rankd.service: [0-9.]+ [A-Z]+" level "${security_out}")
message(STATUS "${level}")
if(NOT verify_rc EQUAL 0 OR NOT verify_out STREQUAL "")
  message(FATAL_ERROR "systemd-analyze verify (${verify_rc}):\n${verify_out}")
endif()
if(NOT security_rc EQUAL 0 OR level STREQUAL "")
  message(FATAL_ERROR "systemd-analyze security: exposure over 3.0 (${security_rc}):\n${security_out}")
endif()
