#include "runner/round/data_state.h"

namespace runner {

const char* DataStateName(DataState state) {
  switch (state) {
    case DataState::kFresh: return "ok";
    case DataState::kStale: return "stale";
    case DataState::kNotReady: return "no data";
    case DataState::kOffline: return "offline";
    case DataState::kFailing: return "error";
  }
  return "?";
}

}  // namespace runner
