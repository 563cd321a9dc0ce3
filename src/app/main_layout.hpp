#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrova::app {

// A rectangle in pixels of the parent's coordinates.
struct Rect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int right() const { return left + width; }
  int bottom() const { return top + height; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// The main window's proportional two-panel arrangement for a window of W x H (its own size,
// menu bar included). Positions are in the client area below the menu bar.
struct MainLayout {
  int left_margin = 0;
  int top_margin = 0;
  int column_unit = 0; // usable width / 6
  int row_unit = 0;    // (usable height - top margin) / 20
  Rect pic_panel1;     // left panel: plots and channel view
  Rect pic_panel2;     // right panel: project, connection, light/temperature, run controls
  Rect lbl_autostart;  // the self-test's message line below the left panel
};

// Smallest window the layout runs for; below it (a minimised window) it does nothing.
inline constexpr int kMinLayoutWidth = 120;
inline constexpr int kMinLayoutHeight = 120;

// The main window's layout rule: usable 90% of the width and height, margins 5% and 2.5%,
// six columns and twenty rows; the left panel 4.1 columns wide, the right one 2.05 columns
// wide starting at column 4, both 19.5 rows high. Every figure is rounded half to even.
// nullopt when the area is too small to lay out.
std::optional<MainLayout> main_layout(double width, double height);

// A control placed by name inside a panel.
struct Placement {
  std::string name;
  Rect rect;
};

// Placement of the blocks of the left panel (plot buttons, Picact, channel view, progress
// bar) in units of the panel: its height divided into 19.5 rows.
std::vector<Placement> left_panel_layout(int panel_width, int panel_height);

// Placement of the blocks of the right panel: the project frame, connection and station
// controls, the light and temperature frames (same place) and the run buttons.
std::vector<Placement> right_panel_layout(int panel_width, int panel_height);

} // namespace kestrova::app
