#include "app/main_layout.hpp"

#include "common/rounding.hpp"

namespace kestrova::app {

namespace {

using common::round_to_int;

// Converts fractions of the panel width and rows of a 19.5-row panel into pixels.
class PanelGrid {
public:
  PanelGrid(int width, int height) : width_(width), row_(height / 19.5) {}

  // x and w are fractions of the panel width; top and rows are in panel rows.
  Rect at(double x, double top, double w, double rows) const {
    const int left = round_to_int(x * width_);
    const int y = round_to_int(top * row_);
    return {left, y, round_to_int((x + w) * width_) - left, round_to_int((top + rows) * row_) - y};
  }

private:
  int width_;
  double row_;
};

} // namespace

std::optional<MainLayout> main_layout(double width, double height) {
  const int w = round_to_int(width);
  const int h = round_to_int(height);
  if (w < kMinLayoutWidth || h < kMinLayoutHeight) return std::nullopt;
  MainLayout l;
  const int usable_w = round_to_int(w * 0.9);
  const int usable_h = round_to_int(h * 0.9);
  l.left_margin = round_to_int(w * 0.05);
  l.top_margin = round_to_int(h * 0.025);
  l.column_unit = round_to_int(usable_w / 6.0);
  l.row_unit = round_to_int((usable_h - l.top_margin) / 20.0);
  const int half_margin = round_to_int(l.left_margin / 2.0);
  const int panel_height = round_to_int(19.5 * l.row_unit);
  l.pic_panel1 = {half_margin, l.top_margin, round_to_int(4.1 * l.column_unit), panel_height};
  l.pic_panel2 = {4 * l.column_unit + l.left_margin, l.top_margin,
                  round_to_int(2.05 * l.column_unit), panel_height};
  l.lbl_autostart = {half_margin, round_to_int(19.75 * l.row_unit) + l.top_margin,
                     l.pic_panel1.width, l.row_unit};
  return l;
}

std::vector<Placement> left_panel_layout(int panel_width, int panel_height) {
  const PanelGrid g(panel_width, panel_height);
  return {
      {"Cmd_gridplot", g.at(0.00, 0.0, 0.21, 1.3)},
      {"Cmd_barplot", g.at(0.21, 0.0, 0.17, 1.3)},
      {"Cmd_histoplot", g.at(0.38, 0.0, 0.30, 1.3)},
      {"lbl_temperature", g.at(0.70, 0.0, 0.28, 1.3)},
      {"Picact", g.at(0.00, 1.5, 0.94, 9.5)},
      {"cmd_pgup", g.at(0.945, 1.5, 0.05, 1.2)},
      {"cmd_pgdown", g.at(0.945, 9.8, 0.05, 1.2)},
      {"Framereal", g.at(0.00, 11.25, 0.30, 6.25)},
      {"Picreal", g.at(0.31, 11.25, 0.69, 4.9)},
      {"combogrup", g.at(0.31, 16.3, 0.12, 1.2)},
      {"cmdbeam_minus", g.at(0.43, 16.3, 0.145, 1.2)},
      {"txtbeam", g.at(0.575, 16.3, 0.14, 1.2)},
      {"cmdbeam_plus", g.at(0.715, 16.3, 0.12, 1.2)},
      {"Cmdzoom_minus", g.at(0.835, 16.3, 0.08, 1.2)},
      {"Cmdzoom_plus", g.at(0.915, 16.3, 0.085, 1.2)},
      {"picturetime", g.at(0.00, 17.75, 0.84, 0.9)},
      {"Txt_time", g.at(0.86, 17.65, 0.13, 1.1)},
  };
}

std::vector<Placement> right_panel_layout(int panel_width, int panel_height) {
  const PanelGrid g(panel_width, panel_height);
  return {
      {"Frame_setup", g.at(0.0, 0.5, 1.0, 7.6)},    {"cmd_connect", g.at(0.0, 8.3, 0.5, 1.3)},
      {"Cmd_disconnect", g.at(0.5, 8.3, 0.5, 1.3)}, {"frame_station", g.at(0.0, 9.7, 1.0, 1.9)},
      {"frm_autotext", g.at(0.0, 8.3, 1.0, 3.3)},   {"Frame_light", g.at(0.0, 11.75, 1.0, 4.2)},
      {"Frame_temp", g.at(0.0, 11.75, 1.0, 4.2)},   {"lbl_torun", g.at(0.0, 16.1, 1.0, 0.8)},
      {"CmdPlay", g.at(0.0, 16.9, 0.5, 1.3)},       {"CmdStop", g.at(0.5, 16.9, 0.5, 1.3)},
      {"CmdPause", g.at(0.0, 18.2, 0.26, 1.3)},     {"Cmdreport", g.at(0.26, 18.2, 0.42, 1.3)},
      {"Cmdoffline", g.at(0.68, 18.2, 0.32, 1.3)},
  };
}

} // namespace kestrova::app
