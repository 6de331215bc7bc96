# cmake -DNM=nm -DOBJDUMP=objdump -DPLUGIN=halvex_30.so -P check_exports.cmake
#
# Fails when the plug-in defines any dynamic symbol but get_providers (the
# host would bind to the plug-in's copies of its own classes), or when it
# holds writable data of its own: every device is one object the host owns,
# and loading the library must create nothing.

execute_process(COMMAND ${NM} -D --defined-only ${PLUGIN}
  OUTPUT_VARIABLE exported RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${PLUGIN}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${exported}")
set(found_entry FALSE)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* " "" symbol "${line}")
  if(symbol STREQUAL "get_providers")
    set(found_entry TRUE)
  else()
    message(SEND_ERROR "exported beyond get_providers: ${line}")
  endif()
endforeach()
if(NOT found_entry)
  message(SEND_ERROR "get_providers is not exported")
endif()

# Writable objects: crt bookkeeping, exception-handling references and the
# standard streams' initialiser are the toolchain's (link-time optimisation
# renames the latter's local copy with a .lto_priv.N suffix).
execute_process(COMMAND ${OBJDUMP} -t ${PLUGIN} OUTPUT_VARIABLE table RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${PLUGIN}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${table}")
foreach(line IN LISTS lines)
  if(line MATCHES " O \\.(s?data|s?bss)[ \t]+[0-9a-f]+[ \t]+(.*)$")
    set(symbol "${CMAKE_MATCH_2}")
    if(NOT symbol MATCHES "^(completed\\.[0-9]+|__dso_handle|__TMC_END__|DW\\.ref\\..*|_ZStL8__ioinit(\\.lto_priv\\.[0-9]+)?)$")
      message(SEND_ERROR "writable state in the plug-in: ${symbol}")
    endif()
  endif()
endforeach()
