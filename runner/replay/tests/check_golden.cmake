# Replays SCENARIO through PLUGIN and compares the transcript with GOLDEN,
# byte for byte. Run by CTest: cmake -DREPLAY=... -DPLUGIN=... -DSCENARIO=...
# -DGOLDEN=... -DOUTPUT=... [-DEXTRA=--hex] [-DEMULATOR=qemu-mipsel|-L|...]
# -P check_golden.cmake. In a cross build EMULATOR runs the target's replay
# tool, whose transcript must equal the one the build machine gives.
string(REPLACE "|" ";" emulator "${EMULATOR}")
set(args ${SCENARIO} --plugin ${PLUGIN})
if(EXTRA)
  list(APPEND args ${EXTRA})
endif()
execute_process(COMMAND ${emulator} ${REPLAY} ${args}
  OUTPUT_FILE ${OUTPUT}
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "halvex-replay failed (${status}): ${errors}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT} ${GOLDEN}
  RESULT_VARIABLE differs)
if(differs)
  execute_process(COMMAND diff -u ${GOLDEN} ${OUTPUT} OUTPUT_VARIABLE diff)
  message(FATAL_ERROR "transcript differs from ${GOLDEN}:\n${diff}")
endif()
