# Runs halvex-replay with ARGS (a ;-list) and checks that it fails with
# STATUS and that its error output matches MESSAGE (a regular expression).
# In a cross build EMULATOR runs it (its words joined by "|").
string(REPLACE "|" ";" emulator "${EMULATOR}")
execute_process(COMMAND ${emulator} ${REPLAY} ${ARGS}
  OUTPUT_QUIET
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
if(NOT status EQUAL STATUS)
  message(FATAL_ERROR "exit status ${status}, expected ${STATUS}; errors: ${errors}")
endif()
if(NOT errors MATCHES "${MESSAGE}")
  message(FATAL_ERROR "error output does not match '${MESSAGE}': ${errors}")
endif()
