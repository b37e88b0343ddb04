# Runs a program, through the cross-compiling emulator when there is one,
# with standard input that is not a terminal, and checks its exit status and
# that its output (standard output and error together) matches a pattern:
#
#   cmake -D PROGRAM=file -D EMULATOR=a|b -D ARGS=x|y -D STATUS=n -D PATTERN=regex
#         [-D FILE=path -D FILE_PATTERN=regex] -P run_and_check.cmake
#
# With FILE, the file is removed before the run and must match FILE_PATTERN
# after it.
#
# Lists are given with "|" between their items, because ";" would split the
# test's command line.
string(REPLACE "|" ";" emulator "${EMULATOR}")
string(REPLACE "|" ";" args "${ARGS}")
if(DEFINED FILE)
  file(REMOVE "${FILE}")
endif()
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
if(DEFINED FILE)
  if(NOT EXISTS "${FILE}")
    message(FATAL_ERROR "${FILE} was not written")
  endif()
  file(READ "${FILE}" written)
  if(NOT written MATCHES "${FILE_PATTERN}")
    message(FATAL_ERROR "${FILE} does not match '${FILE_PATTERN}':\n${written}")
  endif()
endif()
