#include "support/fake_canvas.hpp"

#include <algorithm>

#include <fmt/format.h>

namespace kestrova::testing {

namespace {
std::string rgb(common::Rgb c) { return fmt::format("({},{},{})", c.r, c.g, c.b); }
} // namespace

void FakeCanvas::set_world(double l, double t, double r, double b) {
  calls.push_back(fmt::format("world {:g},{:g}-{:g},{:g}", l, t, r, b));
}
void FakeCanvas::clear(common::Rgb bg) { calls.push_back("clear " + rgb(bg)); }
void FakeCanvas::set_draw_width(int px) { calls.push_back(fmt::format("width {}", px)); }
void FakeCanvas::line(double x1, double y1, double x2, double y2, common::Rgb c) {
  calls.push_back(fmt::format("line {:g},{:g}-{:g},{:g} {}", x1, y1, x2, y2, rgb(c)));
}
void FakeCanvas::box(double x1, double y1, double x2, double y2, common::Rgb c, bool filled) {
  calls.push_back(
      fmt::format("box {:g},{:g}-{:g},{:g} {}{}", x1, y1, x2, y2, rgb(c), filled ? " filled" : ""));
}
void FakeCanvas::circle(double cx, double cy, double r, common::Rgb c, bool filled) {
  calls.push_back(
      fmt::format("circle {:g},{:g} r{:g} {}{}", cx, cy, r, rgb(c), filled ? " filled" : ""));
}
void FakeCanvas::text(double x, double y, std::string_view t, common::Rgb c, double size) {
  calls.push_back(fmt::format("text {:g},{:g} \"{}\" {} {:g}pt", x, y, t, rgb(c), size));
}
bool FakeCanvas::save(const std::filesystem::path& file, common::ImageFormat f) {
  calls.push_back(
      fmt::format("save {} {}", file.string(), f == common::ImageFormat::Bmp ? "bmp" : "png"));
  return save_result;
}
int FakeCanvas::count(std::string_view prefix) const {
  return static_cast<int>(std::count_if(
      calls.begin(), calls.end(), [&](const std::string& s) { return s.starts_with(prefix); }));
}
bool FakeCanvas::contains(std::string_view call) const {
  return std::find(calls.begin(), calls.end(), call) != calls.end();
}

} // namespace kestrova::testing
