#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace kestrova::common {

struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

enum class ImageFormat { Bmp, Png };

// A drawing surface with a user-defined world window. Coordinates are world units;
// either axis may run backwards (left > right or top > bottom).
class Canvas {
public:
  virtual ~Canvas() = default;

  // Maps the world rectangle (left, top)-(right, bottom) onto the whole surface.
  virtual void set_world(double left, double top, double right, double bottom) = 0;
  // Fills the surface with `background`.
  virtual void clear(Rgb background) = 0;
  // Pen width in pixels for lines, box outlines and circles.
  virtual void set_draw_width(int pixels) = 0;
  virtual void line(double x1, double y1, double x2, double y2, Rgb colour) = 0;
  virtual void box(double x1, double y1, double x2, double y2, Rgb colour, bool filled) = 0;
  // A circle of `radius` world units of the horizontal axis.
  virtual void circle(double cx, double cy, double radius, Rgb colour, bool filled = false) = 0;
  // Text whose top-left corner is at (x, y); size in points.
  virtual void text(double x, double y, std::string_view text, Rgb colour, double size_pt) = 0;
  // The width of `text` at `size_pt` in world units of the horizontal axis; 0 when the surface
  // does not measure text (drawings then keep their sizes).
  virtual double text_width(std::string_view /*text*/, double /*size_pt*/) const { return 0; }
  // Saves the surface as a picture; false when the file cannot be written.
  virtual bool save(const std::filesystem::path& file, ImageFormat format) = 0;
};

} // namespace kestrova::common
