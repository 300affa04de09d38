# --help prints the usage and exits 0; an unknown option or a missing value
# prints it on the error stream and exits 2. None of them may start the demo,
# whose first line names the library's version.
function(expect_usage expected_status)
  execute_process(COMMAND ${PROGRAM} ${ARGN} RESULT_VARIABLE status
    OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 20)
  if(NOT status STREQUAL "${expected_status}")
    message(FATAL_ERROR "'${ARGN}': exit ${status}, expected ${expected_status}\n${out}${err}")
  endif()
  if(expected_status EQUAL 0)
    set(usage "${out}")
  else()
    set(usage "${err}")
  endif()
  if(NOT usage MATCHES "usage: corvex-demo-game" OR "${out}${err}" MATCHES "Corvex Tracking")
    message(FATAL_ERROR "'${ARGN}': no usage, or the demo ran\n${out}${err}")
  endif()
endfunction()

expect_usage(0 --help)
expect_usage(0 --save /nonexistent -h)
expect_usage(2 --bogus)
expect_usage(2 --proxy)
