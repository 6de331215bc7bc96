# The layer check must fail on a planted include: the view reading the wire,
# and a publisher reaching into the lines. Plants both in a scratch tree
# holding only the layer table, runs the check there, and expects it to name
# each planted file.
#
#   cmake -DROOT=<source tree> -DSCRATCH=<fresh folder> -P check_layers_catches.cmake
cmake_minimum_required(VERSION 3.25)

string(RANDOM LENGTH 8 suffix)
set(tree "${SCRATCH}/planted_${suffix}")
file(MAKE_DIRECTORY "${tree}/docs" "${tree}/runner/view" "${tree}/runner/publish")
file(COPY "${ROOT}/docs/architecture.md" DESTINATION "${tree}/docs")
file(WRITE "${tree}/runner/view/planted.h" "#include \"battery/wire.h\"\n")
file(WRITE "${tree}/runner/publish/planted.cpp" "#include \"runner/lines/poller.h\"\n")

execute_process(
  COMMAND "${CMAKE_COMMAND}" -DROOT=${tree} -P "${CMAKE_CURRENT_LIST_DIR}/check_layers.cmake"
  RESULT_VARIABLE status ERROR_VARIABLE said OUTPUT_VARIABLE out)
file(REMOVE_RECURSE "${tree}")

if(status EQUAL 0)
  message(FATAL_ERROR "the layer check passed a tree with planted includes:\n${out}${said}")
endif()
foreach(expected "runner/view/planted.h: includes \"battery/wire.h\""
                 "runner/publish/planted.cpp: includes \"runner/lines/poller.h\"")
  string(FIND "${said}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the layer check did not name '${expected}':\n${said}")
  endif()
endforeach()
message(STATUS "the layer check refused both planted includes")
