# Checks that each folder of runner/ includes only what the layer table in
# docs/architecture.md lets it use, so an arrow that points back up (the view
# reading the wire, a publisher reaching into the lines) fails the build's
# tests instead of growing unnoticed.
#
#   cmake -DROOT=<source tree> -P check_layers.cmake
#
# The table sits between "<!-- layers begin -->" and "<!-- layers end -->":
#   | folder | may include |
#   | `view` | `alarms` `lines` `time` |
# A name is a folder of runner/ or a top-level folder (host, battery, sim, ...).
# Unit tests (a folder's tests/) are left out: they may build whatever rig
# they need.
cmake_minimum_required(VERSION 3.25)

if(NOT ROOT)
  message(FATAL_ERROR "check_layers: give -DROOT=<source tree>")
endif()
set(table_file "${ROOT}/docs/architecture.md")
if(NOT EXISTS "${table_file}")
  message(FATAL_ERROR "check_layers: ${table_file}: no such file")
endif()

file(STRINGS "${table_file}" doc_lines)
set(in_table FALSE)
set(folders "")
foreach(line IN LISTS doc_lines)
  if(line MATCHES "<!-- layers begin -->")
    set(in_table TRUE)
  elseif(line MATCHES "<!-- layers end -->")
    set(in_table FALSE)
  elseif(in_table AND line MATCHES "^\\| *`([a-z_]+)` *\\|(.*)\\|")
    set(folder "${CMAKE_MATCH_1}")
    string(REGEX MATCHALL "`[a-z_]+`" uses "${CMAKE_MATCH_2}")
    string(REPLACE "`" "" uses "${uses}")
    list(APPEND folders "${folder}")
    set("uses_${folder}" "${uses}")
  endif()
endforeach()
if(NOT folders)
  message(FATAL_ERROR "check_layers: ${table_file}: no layer table between "
                      "<!-- layers begin --> and <!-- layers end -->")
endif()

file(GLOB runner_dirs LIST_DIRECTORIES true "${ROOT}/runner/*")
set(faults 0)
foreach(dir IN LISTS runner_dirs)
  if(NOT IS_DIRECTORY "${dir}")
    continue()
  endif()
  get_filename_component(folder "${dir}" NAME)
  if(folder STREQUAL "tests" OR folder STREQUAL "examples")
    continue()
  endif()
  if(NOT folder IN_LIST folders)
    message(SEND_ERROR "runner/${folder}: not in the layer table of docs/architecture.md")
    math(EXPR faults "${faults} + 1")
    continue()
  endif()
  file(GLOB_RECURSE sources "${dir}/*.h" "${dir}/*.cpp")
  foreach(source IN LISTS sources)
    file(RELATIVE_PATH rel "${ROOT}" "${source}")
    if(rel MATCHES "/tests/")
      continue()
    endif()
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
    foreach(include IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]*)\".*" "\\1" header "${include}")
      if(header MATCHES "^runner/([a-z_]+)/")
        set(used "${CMAKE_MATCH_1}")
      elseif(header MATCHES "^([a-z_]+)/")
        set(used "${CMAKE_MATCH_1}")
      else()
        continue()  # a header beside the source
      endif()
      if(used STREQUAL folder OR used IN_LIST "uses_${folder}")
        continue()
      endif()
      message(SEND_ERROR "${rel}: includes \"${header}\": runner/${folder} may not use ${used} "
                         "(may use: ${uses_${folder}})")
      math(EXPR faults "${faults} + 1")
    endforeach()
  endforeach()
endforeach()

if(faults GREATER 0)
  message(FATAL_ERROR "check_layers: ${faults} include(s) against the layer table")
endif()
list(LENGTH folders count)
message(STATUS "check_layers: every include of runner/ within its layer (${count} folders)")
