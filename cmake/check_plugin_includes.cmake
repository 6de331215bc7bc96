# Fails when the plug-in's folders (host/, battery/, celldata/, plugin/)
# include anything but each other: the plug-in must build where the hosts,
# the simulator and the tests are absent, as on the controller's build.
#
#   cmake -DSOURCE_DIR=<tree> -P check_plugin_includes.cmake
#
# Their own tests/ folders are test code and may include the test hosts.

set(plugin_parts host battery celldata plugin)
set(offences "")
foreach(part IN LISTS plugin_parts)
  file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR}
       ${SOURCE_DIR}/${part}/*.h ${SOURCE_DIR}/${part}/*.cpp)
  foreach(file IN LISTS files)
    if(file MATCHES "/tests/")
      continue()
    endif()
    file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS includes)
      # Quoted includes name a file of the tree by its path from the top.
      if(line MATCHES "include[ \t]*\"([^\"]*)\"")
        if(NOT CMAKE_MATCH_1 MATCHES "^(host|battery|celldata|plugin)/")
          list(APPEND offences "${file}: ${line}")
        endif()
      # The simulator's headers are included as <sim/...>.
      elseif(line MATCHES "include[ \t]*<((sim|runner|tests)/[^>]*)>")
        list(APPEND offences "${file}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(offences)
  list(JOIN offences "\n  " text)
  message(FATAL_ERROR "the plug-in's folders include files from outside them:\n  ${text}")
endif()
message(STATUS "the plug-in's folders include only each other")
