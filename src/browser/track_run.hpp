#pragma once

// One track view of an acquisition, as the browser window drives it: open, play and pause on
// the animation timer (one step per tick, drawn), finish at once without drawing (Export Data),
// and the distance table written into the acquisition folder and opened. kestrova-report runs
// the same object without a display.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "browser/track_files.hpp"
#include "browser/track_model.hpp"
#include "common/canvas.hpp"
#include "common/clock.hpp"
#include "common/event_pump.hpp"
#include "common/shell.hpp"

namespace kestrova::browser {

// Interval of the animation timer.
inline constexpr int kTrackTimerMs = 20;

struct TrackOptions {
  TrackPlateSource plate;
  std::string threshold_text = "1.8"; // as typed in the threshold box
  bool save_frames = false;           // every drawn frame as <folder>/bmp/00000.bmp, ...
};

enum class TrackTick {
  Idle,     // not playing: the timer should stop
  Stepped,  // one step done: run the timer again
  Finished, // the last step was done and the table written (see table_file): the timer stops
};

class TrackRun {
public:
  TrackRun(common::Clock& clock, common::Shell& shell);
  ~TrackRun();

  // Loads the acquisition and stands before the first step, paused. Empty on success, else the
  // message to show; the view then stays empty and nothing is written.
  std::string open(const std::filesystem::path& folder, const TrackOptions& options);
  bool is_open() const { return open_; }

  // The track button while the view is open: pauses a playing run; otherwise plays, from where
  // it was paused, or from the start again after a finished run.
  void toggle();
  bool playing() const { return playing_; }

  // Turns saving of every drawn frame on or off (the window's check box may change mid-run).
  void set_save_frames(bool on);

  // A timer tick: while playing, one step drawn on `canvas` (may be null), its frame saved when
  // asked. After the last step the table is written and opened, and playing stops.
  TrackTick tick(common::Canvas* canvas);

  // Export Data: runs the remaining steps without drawing, letting events run after each, then
  // writes the table and opens it, and closes the view (the next open starts again). `stop`,
  // asked after each step, ends the run early without writing anything. While it runs, the
  // track button and timer ticks do nothing; an open() from an event ends it without writing.
  // The file written.
  std::optional<std::filesystem::path> finish(common::EventPump& pump,
                                              const std::function<bool()>& stop = {});

  // Writes the distance table of the blocks tracked (blocks not yet closed show 0) and opens it.
  std::optional<std::filesystem::path> write_csv();

  // Clears the canvas and draws the plate with every known distance label.
  void draw(common::Canvas& canvas) const;

  // Export .BMP: saves the picture as <program_folder>/trackimg.bmp and opens it. A picture
  // that cannot be saved is not opened; false then.
  bool export_picture(common::Canvas& canvas, const std::filesystem::path& program_folder);

  // "<step>/<steps in all>" for the page box.
  std::string page_text() const;

  // The last problem: a failed save of the table, or blocks that could not be read.
  const std::string& problem() const { return problem_; }
  const std::optional<std::filesystem::path>& table_file() const { return table_file_; }
  const TrackModel* model() const { return model_.get(); }
  const TrackInputs* inputs() const { return inputs_ ? &*inputs_ : nullptr; }

private:
  common::Clock& clock_;
  common::Shell& shell_;
  TrackOptions options_;
  std::optional<TrackInputs> inputs_;
  std::unique_ptr<TrackModel> model_;
  bool open_ = false;
  bool playing_ = false;
  bool finishing_ = false;
  std::uint64_t opened_ = 0; // counts open() calls, so Export Data sees one made by an event
  std::string problem_;
  std::optional<std::filesystem::path> table_file_;
};

} // namespace kestrova::browser
