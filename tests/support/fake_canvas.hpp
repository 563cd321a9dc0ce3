#pragma once

#include <string>
#include <vector>

#include "common/canvas.hpp"

namespace kestrova::testing {

// Records every drawing call as one line of text, e.g.
// "box 10,2-30,112 (200,200,200) filled", so tests assert what was drawn.
class FakeCanvas final : public common::Canvas {
public:
  void set_world(double left, double top, double right, double bottom) override;
  void clear(common::Rgb background) override;
  void set_draw_width(int pixels) override;
  void line(double x1, double y1, double x2, double y2, common::Rgb colour) override;
  void box(double x1, double y1, double x2, double y2, common::Rgb colour, bool filled) override;
  void circle(double cx, double cy, double radius, common::Rgb colour, bool filled) override;
  void text(double x, double y, std::string_view text, common::Rgb colour, double size_pt) override;
  bool save(const std::filesystem::path& file, common::ImageFormat format) override;

  std::vector<std::string> calls;
  bool save_result = true;
  // Number of recorded calls that start with `prefix`.
  int count(std::string_view prefix) const;
  bool contains(std::string_view call) const;
};

} // namespace kestrova::testing
