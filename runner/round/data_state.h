#pragma once
// What a device's data is worth right now, as its answer to a value query
// tells: the view, the JSON lines and the publishers all say it alike.

#include "host/device_contract.h"

namespace runner {

// The device's answers to a query that fails, by meaning.
inline constexpr const char* kNotReadyText = qorv::kDataNotReadyText;
inline constexpr const char* kTimedOutText = qorv::kDataTimedOutText;

enum class DataState {
  kFresh,     // the device answers its queries
  kStale,     // its data is older than it allows ("数据已超时")
  kNotReady,  // no round yet ("数据未就绪")
  kOffline,   // its line is down
  kFailing,   // any other refusal; the text says what
};
const char* DataStateName(DataState state);  // "ok", "stale", "no data", "offline", "error"

}  // namespace runner
