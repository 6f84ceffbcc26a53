// Rectangles on the desktop, in bottom-left coordinates: the origin is the primary
// screen's bottom-left corner and y grows upwards.
#pragma once

namespace varek {

struct Rect {
  double x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace varek
