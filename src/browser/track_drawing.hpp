#pragma once

// Drawing of the track view: the plate with its beams, and per step the animal of every well
// that moved, its recent path and its distance label. World units: a beam at column x and row y
// sits at (100x + 50, 100y + 50).

#include <filesystem>

#include "browser/track_files.hpp"
#include "browser/track_model.hpp"
#include "common/canvas.hpp"

namespace kestrova::browser {

inline constexpr common::Rgb kTrackWellOutline{150, 150, 150};
inline constexpr common::Rgb kTrackBeam{0, 0, 255};
inline constexpr common::Rgb kTrackMarker{255, 0, 0};
inline constexpr common::Rgb kTrackOldPath{255, 200, 200};

// The world point of a grid position.
inline double track_world(double beam) { return 100 * beam + 50; }

// Clears the canvas and draws the plate: grey well outlines, every beam (blue when enabled and in
// a well, yellow otherwise), the group label of each grouped well, column numbers and row
// letters.
void draw_track_plate(common::Canvas& canvas, const TrackInputs& inputs);

// Draws what the model's last step found, well by well: for a well whose animal was seen, its
// beams, the interrupted ones, the marker at its new position and its last five positions; then
// every well's distance label.
void draw_track_step(common::Canvas& canvas, const TrackInputs& inputs, const TrackModel& model);

// The distance label of a well at its place on the plate: a white box, then the cumulative
// distance in millimetres + "mm".
void draw_track_label(common::Canvas& canvas, const TrackInputs& inputs, int well,
                      double cumulative);

// The picture file of a frame: <folder>/bmp/<position formatted 00000>.bmp.
std::filesystem::path track_frame_file(const std::filesystem::path& folder, std::int64_t position);

} // namespace kestrova::browser
