#include "setup_editor/setup_layout.hpp"

#include <cmath>

namespace kestrova::setup_editor {

namespace {

// Scales a rectangle of the design size to the client size; edges are rounded so panels that
// touch in the design still touch.
PanelRect scaled(int left, int top, int width, int height, double sx, double sy) {
  const int l = static_cast<int>(std::lround(left * sx));
  const int t = static_cast<int>(std::lround(top * sy));
  const int r = static_cast<int>(std::lround((left + width) * sx));
  const int b = static_cast<int>(std::lround((top + height) * sy));
  return {l, t, r - l, b - t};
}

} // namespace

SetupLayout setup_layout(int width, int height) {
  const double sx = width > 0 ? static_cast<double>(width) / kDesignWidth : 0;
  const double sy = height > 0 ? static_cast<double>(height) / kDesignHeight : 0;
  SetupLayout l;
  l.plate = scaled(8, 8, 604, 402, sx, sy);
  l.groups = scaled(8, 414, 604, 214, sx, sy);
  l.annotations = l.groups;
  l.project = scaled(620, 8, 372, 196, sx, sy);
  l.extra = scaled(620, 208, 372, 196, sx, sy);
  l.notes = scaled(620, 408, 372, 220, sx, sy);
  l.advanced = l.notes;
  l.project_list = scaled(620, 8, 372, 396, sx, sy);
  l.bottom_left = scaled(8, 634, 604, 40, sx, sy);
  l.bottom_right = scaled(620, 634, 372, 40, sx, sy);
  return l;
}

} // namespace kestrova::setup_editor
