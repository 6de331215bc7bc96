# cmake -DNM=nm -DPLUGIN=halvex_30.so -DLIST=plugin/host_imports.txt -P check_imports.cmake
#
# Fails when the plug-in imports a host framework symbol that the committed
# list does not hold, or no longer imports one it holds. The host on the
# controller was built from the framework interface: a symbol it lacks makes
# the load fail there. Versioned symbols (C and C++ runtime), weak ones
# (toolchain hooks), jsoncpp and Boost are the platform's, not the host's.

cmake_policy(SET CMP0057 NEW)

execute_process(COMMAND ${NM} -D -C --undefined-only ${PLUGIN}
  OUTPUT_VARIABLE undefined RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${PLUGIN}")
endif()
string(REPLACE ";" "\\;" undefined "${undefined}")
string(REGEX MATCHALL "[^\n]+" lines "${undefined}")
set(imported "")
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^ *U (.+)$")
    continue()  # weak references: toolchain hooks
  endif()
  set(symbol "${CMAKE_MATCH_1}")
  if(symbol MATCHES "@" OR symbol MATCHES "^((typeinfo|typeinfo name|vtable) for )?(Json|boost)::")
    continue()
  endif()
  list(APPEND imported "${symbol}")
endforeach()

file(STRINGS ${LIST} entries)
set(listed "")
foreach(entry IN LISTS entries)
  if(entry MATCHES "^#" OR entry STREQUAL "")
    continue()
  endif()
  if(NOT entry MATCHES "^(.+) # .+$")
    message(SEND_ERROR "${LIST}: no interface item after \" # \": ${entry}")
    continue()
  endif()
  list(APPEND listed "${CMAKE_MATCH_1}")
endforeach()

set(failed FALSE)
foreach(symbol IN LISTS imported)
  if(NOT symbol IN_LIST listed)
    message(SEND_ERROR "+ ${symbol}\n  imported by ${PLUGIN} but not in ${LIST}: "
                       "a host function the framework interface may lack")
    set(failed TRUE)
  endif()
endforeach()
foreach(symbol IN LISTS listed)
  if(NOT symbol IN_LIST imported)
    message(SEND_ERROR "- ${symbol}\n  in ${LIST} but no longer imported: "
                       "a changed signature, or remove it from the list")
    set(failed TRUE)
  endif()
endforeach()
list(LENGTH imported count)
if(NOT failed)
  message(STATUS "${count} host imports, all in ${LIST}")
endif()
