#include "runner/plot/label_rows.h"

namespace runner::plot {

void PlaceInRows(std::vector<LabelSpan>& labels, int rows, double gap) {
  std::vector<std::vector<const LabelSpan*>> taken(static_cast<std::size_t>(rows > 0 ? rows : 0));
  for (LabelSpan& label : labels) {
    label.row = -1;
    for (std::size_t row = 0; row < taken.size() && label.row < 0; ++row) {
      bool clear = true;
      for (const LabelSpan* other : taken[row])
        if (label.left < other->left + other->width + gap &&
            other->left < label.left + label.width + gap)
          clear = false;
      if (!clear) continue;
      label.row = static_cast<int>(row);
      taken[row].push_back(&label);
    }
  }
}

}  // namespace runner::plot
