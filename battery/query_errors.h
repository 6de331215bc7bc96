#pragma once
// Texts of the std::out_of_range that value queries throw. Hosts show them
// to users and peers test for them: they belong to the host interface.

#include "host/device_contract.h"

namespace halvex {

constexpr const char* kDataNotReady = qorv::kDataNotReadyText;  // no round completed yet
constexpr const char* kDataTimedOut = qorv::kDataTimedOutText;  // last round too old
constexpr const char* kNotSupported = qorv::kNotSupportedText;  // unknown value name

}  // namespace halvex
