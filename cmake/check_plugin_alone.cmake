# Copies the folders that the OpenWrt recipe copies (its HALVEX_SOURCE_PARTS)
# into WORK_DIR, then configures, builds and installs the plug-in from that
# copy alone, with the host tools and the tests off as the recipe has them.
# Fails when the copy does not build or install does not place halvex_30.so
# in the host's plug-in folder.
#
#   cmake -DSOURCE_DIR=<tree> -DWORK_DIR=<scratch> [-DCXX_COMPILER=...]
#         [-DCXX_COMPILER_LAUNCHER=...] [-DGENERATOR=...] -P check_plugin_alone.cmake

set(recipe ${SOURCE_DIR}/packaging/openwrt/halvex/Makefile)
file(STRINGS ${recipe} parts_line REGEX "^HALVEX_SOURCE_PARTS[ \t]*:=")
if(NOT parts_line MATCHES ":=[ \t]*(.+)$")
  message(FATAL_ERROR "${recipe}: no HALVEX_SOURCE_PARTS line")
endif()
separate_arguments(parts UNIX_COMMAND "${CMAKE_MATCH_1}")
list(JOIN parts " " parts_text)

set(copy ${WORK_DIR}/src)
set(build ${WORK_DIR}/build)
set(stage ${WORK_DIR}/stage)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${copy})
foreach(part IN LISTS parts)
  file(COPY ${SOURCE_DIR}/${part} DESTINATION ${copy})
endforeach()

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} of the plug-in from a copy of ${parts_text} failed:\n${out}")
  endif()
endfunction()

set(configure ${CMAKE_COMMAND} -S ${copy} -B ${build} -DCMAKE_BUILD_TYPE=Debug
    -DHALVEX_PLUGIN_LTO=OFF -DHALVEX_HOST_TOOLS=OFF -DHALVEX_TESTS=OFF
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DCMAKE_INSTALL_PREFIX=/usr)
if(GENERATOR)
  list(APPEND configure -G ${GENERATOR})
endif()
if(CXX_COMPILER)
  list(APPEND configure -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
endif()
if(CXX_COMPILER_LAUNCHER)
  list(APPEND configure -DCMAKE_CXX_COMPILER_LAUNCHER=${CXX_COMPILER_LAUNCHER})
endif()
run(configure ${configure})
# The plug-in alone: the host library is the host process's, not the package's.
run(build ${CMAKE_COMMAND} --build ${build} --target halvex_30 --parallel 2)
file(REMOVE_RECURSE ${stage})
run(install ${CMAKE_COMMAND} -E env DESTDIR=${stage} ${CMAKE_COMMAND} --install ${build})

set(installed ${stage}/usr/lib/qorv/plugins/halvex_30.so)
if(NOT EXISTS ${installed})
  file(GLOB_RECURSE found RELATIVE ${stage} ${stage}/*)
  message(FATAL_ERROR "install did not put the plug-in at ${installed}; it installed: ${found}")
endif()
message(STATUS "the plug-in builds from a copy of ${parts_text} and installs to ${installed}")
