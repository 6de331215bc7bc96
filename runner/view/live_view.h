#pragma once
// The live terminal view: one screen, redrawn every round, with every cell
// of every device as a number and a bar, the string's extremes, the group
// values, the data's age and state, the link counters and the alarms.
//
//  qorv-host  demo  2026-12-08 10:00:03  round 12/20   Ctrl-C stops
//
//  string-A  id 1  demo-bus  ok  age 0 s
//    399.12 V  -5.00 A  25.00 °C  min #18 13.210  max #3 13.342  spread 0.132
//    rounds 12  re-sends 0  rejected 0  timeouts 0  round 43.3 ms
//    1 13.31 ██▊     7 13.30 ██▊    13 13.34 ██▊ ...

#include <string>

#include "runner/lines/site_view.h"

namespace runner {

struct ViewStyle {
  int width = 80;    // terminal columns
  int height = 0;    // terminal lines; with ansi the frame stops short of them (0: no limit)
  bool ansi = true;  // colours and cursor control
  unsigned rounds_goal = 0;  // --rounds, for the progress in the title; 0: none
  std::string title;         // e.g. the site's name
};

// The whole screen as text, lines ended with '\n'. With `ansi` the text
// starts at the top-left corner and clears what an older, longer frame left.
std::string RenderView(const SiteView& view, const ViewStyle& style);

// The bar of one cell: `eighths` of a full block each, at most `width`
// cells wide, for `volts` between `low` and `high`.
std::string CellBar(float volts, float low, float high, int width);

}  // namespace runner
