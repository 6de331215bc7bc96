#pragma once
// Bad simulator settings. The message names the setting, e.g.
// "monitors[1].faults.drop: rate must lie in 0..1, got 1.5".

#include "support/json_path.h"

namespace sim {

using ConfigError = support::PathError;

// The dotted name of `key` inside `where`; `where` may be empty.
using support::Member;

}  // namespace sim
