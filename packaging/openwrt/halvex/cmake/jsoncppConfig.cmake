# jsoncpp as the OpenWrt feed stages it: headers under usr/include/json and a
# pkg-config file, without the CMake package that the top-level build asks
# for. This provides the same JsonCpp::JsonCpp target from pkg-config.
find_package(PkgConfig REQUIRED)
pkg_check_modules(halvex_jsoncpp REQUIRED IMPORTED_TARGET GLOBAL jsoncpp)
if(NOT TARGET JsonCpp::JsonCpp)
  add_library(JsonCpp::JsonCpp ALIAS PkgConfig::halvex_jsoncpp)
endif()
set(jsoncpp_VERSION ${halvex_jsoncpp_VERSION})
