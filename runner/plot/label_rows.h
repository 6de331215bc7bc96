#pragma once
// Alarm labels along the top of a panel: several alarms close in time would
// write over each other on one line, so each label takes the first row in
// which it overlaps no label placed before it. A label that fits in no row
// is left out; its mark on the time axis stays.

#include <vector>

namespace runner::plot {

struct LabelSpan {
  double left = 0;
  double width = 0;
  int row = -1;  // set by PlaceInRows; -1: left out
};

// Places `labels` in order, in rows 0 to rows - 1, keeping `gap` between
// neighbours of a row.
void PlaceInRows(std::vector<LabelSpan>& labels, int rows, double gap);

}  // namespace runner::plot
