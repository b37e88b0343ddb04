# Runs a program, through the cross-compiling emulator when there is one,
# with standard input that is not a terminal, and checks its exit status and
# that its output (standard output and error together) matches a pattern:
#
#   cmake -D PROGRAM=file -D EMULATOR=a|b -D ARGS=x|y -D STATUS=n -D PATTERN=regex
#         -P run_and_check.cmake
#
# Lists are given with "|" between their items, because ";" would split the
# test's command line.
string(REPLACE "|" ";" emulator "${EMULATOR}")
string(REPLACE "|" ";" args "${ARGS}")
execute_process(COMMAND ${emulator} ${PROGRAM} ${args}
  INPUT_FILE ${CMAKE_CURRENT_LIST_FILE}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  TIMEOUT 600)
message("exit status ${status}\n--- output:\n${out}--- error:\n${err}")
if(NOT status STREQUAL "${STATUS}")
  message(FATAL_ERROR "expected exit status ${STATUS}, got ${status}")
endif()
if(NOT "${out}${err}" MATCHES "${PATTERN}")
  message(FATAL_ERROR "the output does not match '${PATTERN}'")
endif()
