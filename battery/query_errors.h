#pragma once
// Texts of the std::out_of_range that value queries throw. Hosts show them
// to users and peers test for them; they are part of the interface.

namespace halvex {

constexpr const char* kDataNotReady = "数据未就绪";   // no round completed yet
constexpr const char* kDataTimedOut = "数据已超时";   // last round too old
constexpr const char* kNotSupported = "不支持变量";   // unknown value name

}  // namespace halvex
