# How every target of the tree is declared: halvex_library and
# halvex_executable create the target, give it the tree's warnings and, in a
# sanitizer build, its instrumentation, each as a usage requirement of that
# target alone, and name it halvex::<name> for linking, so a misspelt
# dependency fails at configure time instead of becoming "-lname". The alias
# drops the name's own "halvex_": halvex_battery is halvex::battery.
#
# Headers are included by their path from the root of the tree
# ("runner/lines/poller.h"), so the include folder every library publishes is
# the root, through halvex::source_tree, and only while building.

add_library(halvex_warnings INTERFACE)
add_library(halvex::warnings ALIAS halvex_warnings)
target_compile_options(halvex_warnings INTERFACE -Wall -Wextra)

# AddressSanitizer and UndefinedBehaviorSanitizer on the whole tree, the
# plug-in and the host library included: a report aborts the program. The
# fuzz build adds libFuzzer's coverage to every object, so that the fuzzers
# are guided by the plug-in's own branches.
add_library(halvex_sanitizers INTERFACE)
add_library(halvex::sanitizers ALIAS halvex_sanitizers)
if(HALVEX_SANITIZE)
  set(sanitizers address,undefined)
  if(HALVEX_FUZZ)
    set(sanitizers fuzzer-no-link,${sanitizers})
  endif()
  target_compile_options(halvex_sanitizers INTERFACE
    -fsanitize=${sanitizers} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(halvex_sanitizers INTERFACE -fsanitize=${sanitizers})
endif()

add_library(halvex_source_tree INTERFACE)
add_library(halvex::source_tree ALIAS halvex_source_tree)
target_include_directories(halvex_source_tree INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)

#   halvex_library(<name> [OWN_INCLUDES] <STATIC|SHARED|MODULE|OBJECT|INTERFACE> <sources>...)
#
# OWN_INCLUDES: the library publishes its own include folder (with
# target_include_directories) and reads the root of the tree privately.
function(halvex_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "OWN_INCLUDES" "" "")
  add_library(${name} ${arg_UNPARSED_ARGUMENTS})
  string(REGEX REPLACE "^halvex_([a-z])" "\\1" alias ${name})
  add_library(halvex::${alias} ALIAS ${name})
  get_target_property(type ${name} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_link_libraries(${name} INTERFACE halvex::source_tree)
    return()
  endif()
  target_link_libraries(${name} PRIVATE halvex::warnings halvex::sanitizers)
  if(arg_OWN_INCLUDES)
    target_link_libraries(${name} PRIVATE halvex::source_tree)
  else()
    target_link_libraries(${name} PUBLIC halvex::source_tree)
  endif()
endfunction()

#   halvex_executable(<name> <sources>...)
function(halvex_executable name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE halvex::warnings halvex::sanitizers halvex::source_tree)
endfunction()

# Code that ends up in halvex_30.so is position-independent, with hidden
# symbols, and compiled for the smallest library: one section per function
# and object, so the link drops what get_providers cannot reach, and with GCC
# also as LTO bytecode. The static libraries keep regular code next to it
# (fat objects), so the tests that link them directly need no LTO and
# nothing is compiled twice. Boost throws its plain exception types from the
# plug-in's code, without the wrapper that carries boost::exception's extra
# data (nothing of the plug-in or the host reads it): the device's clock,
# Boost's date-time, would otherwise bring 9 KB of wrapper code into the
# library. The rest of the tree goes into executables and keeps the
# compiler's default.
set(HALVEX_PLUGIN_LTO_ACTIVE OFF)
if(HALVEX_PLUGIN_LTO AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(HALVEX_PLUGIN_LTO_ACTIVE ON)
endif()
function(halvex_plugin_code target)
  set_target_properties(${target} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_compile_options(${target} PRIVATE -ffunction-sections -fdata-sections)
  target_compile_definitions(${target} PRIVATE BOOST_EXCEPTION_DISABLE)
  if(HALVEX_PLUGIN_LTO_ACTIVE)
    target_compile_options(${target} PRIVATE -flto=auto -ffat-lto-objects)
  endif()
endfunction()

# Fails the configure when a target of the tree was declared without the
# functions above, and so compiles without the warnings or the sanitizers.
function(halvex_check_targets dir)
  get_directory_property(targets DIRECTORY ${dir} BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY" OR type STREQUAL "UTILITY")
      continue()
    endif()
    get_target_property(links ${target} LINK_LIBRARIES)
    if(NOT "halvex::warnings" IN_LIST links)
      message(FATAL_ERROR "${dir}: target ${target} is not declared with halvex_library or "
                          "halvex_executable (cmake/HalvexTargets.cmake), so it misses the "
                          "tree's warnings and sanitizers")
    endif()
  endforeach()
  get_directory_property(subdirs DIRECTORY ${dir} SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    halvex_check_targets(${subdir})
  endforeach()
endfunction()
