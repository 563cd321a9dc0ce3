#include "browser/track_run.hpp"

#include "browser/track_drawing.hpp"
#include "common/number_format.hpp"

namespace kestrova::browser {

namespace fs = std::filesystem;

TrackRun::TrackRun(common::Clock& clock, common::Shell& shell) : clock_(clock), shell_(shell) {}

TrackRun::~TrackRun() = default;

std::string TrackRun::open(const fs::path& folder, const TrackOptions& options) {
  ++opened_;
  finishing_ = false;
  open_ = false;
  playing_ = false;
  problem_.clear();
  table_file_.reset();
  model_.reset();
  inputs_.reset();
  options_ = options;
  TrackLoad load = load_track_inputs(folder, options.plate);
  if (!load.inputs) return load.error;
  inputs_ = std::move(load.inputs);
  options_.save_frames = false;
  set_save_frames(options.save_frames);
  auto files = std::make_shared<RealtimeBlocks>(inputs_->folder, inputs_->buffer_length);
  model_ = std::make_unique<TrackModel>(
      inputs_->well_channels(), inputs_->blocks(), track_threshold(options.threshold_text),
      [files](std::int64_t block, std::vector<std::int16_t>& samples) {
        return files->read(block, samples);
      });
  open_ = true;
  return {};
}

void TrackRun::set_save_frames(bool on) {
  if (on && inputs_ && !options_.save_frames) {
    std::error_code ec;
    fs::create_directory(inputs_->folder / "bmp", ec); // a folder not made loses frames only
  }
  options_.save_frames = on;
}

void TrackRun::toggle() {
  if (!open_ || finishing_) return;
  if (playing_) {
    playing_ = false;
    return;
  }
  if (model_->finished()) {
    model_->reset();
    table_file_.reset();
  }
  playing_ = true;
}

TrackTick TrackRun::tick(common::Canvas* canvas) {
  if (!open_ || !playing_ || finishing_) return TrackTick::Idle;
  if (model_->step()) {
    if (canvas) {
      draw_track_step(*canvas, *inputs_, *model_);
      if (options_.save_frames && !model_->last_step().empty())
        (void)canvas->save(track_frame_file(inputs_->folder, model_->position()),
                           common::ImageFormat::Bmp);
    }
    if (!model_->finished()) return TrackTick::Stepped;
  }
  playing_ = false;
  write_csv();
  return TrackTick::Finished;
}

std::optional<fs::path> TrackRun::finish(common::EventPump& pump,
                                         const std::function<bool()>& stop) {
  if (!open_ || finishing_) return std::nullopt;
  playing_ = false;
  finishing_ = true;
  const std::uint64_t run = opened_;
  // Nothing is drawn: the steps keep no account of the wells that moved, and the blocks ahead
  // are read and detected on a second thread meanwhile.
  model_->detect_ahead(true);
  while (model_->advance()) {
    pump.process_events();
    if (opened_ != run) return std::nullopt; // another track was opened meanwhile
    if (stop && stop()) {
      model_->detect_ahead(false);
      finishing_ = false;
      return std::nullopt;
    }
  }
  model_->detect_ahead(false);
  finishing_ = false;
  auto file = write_csv();
  open_ = false;
  return file;
}

std::optional<fs::path> TrackRun::write_csv() {
  if (!inputs_ || !model_) return std::nullopt;
  TrackTable table;
  table.date = track_date_text(common::to_civil(clock_.now()));
  table.folder = inputs_->folder.string();
  const std::int64_t blocks = model_->blocks();
  table.minutes.assign(inputs_->record_minutes.begin(), inputs_->record_minutes.begin() + blocks);
  for (int w = 0; w < model_->wells(); ++w) {
    table.labels.push_back(common::format_display(w, "000") + "_" + inputs_->group_names[w]);
    std::vector<double> row(static_cast<std::size_t>(blocks));
    for (std::int64_t b = 0; b < blocks; ++b)
      row[b] = model_->block_distance(w, b);
    table.distances.push_back(std::move(row));
  }
  const char decimal = common::locale_decimal_separator();
  const std::string separator(1, common::list_separator_for(decimal));
  table_file_ = save_track_table(inputs_->folder, track_table_text(table, separator, decimal));
  problem_.clear();
  if (!table_file_) {
    problem_ = "Error writing " + (inputs_->folder / "report.csv").string();
    return std::nullopt;
  }
  if (!model_->unreadable_blocks().empty())
    problem_ = "Real-time block " + std::to_string(model_->unreadable_blocks().front()) +
               " could not be read: it was tracked as if no beam were interrupted";
  (void)shell_.open(*table_file_);
  return table_file_;
}

void TrackRun::draw(common::Canvas& canvas) const {
  if (!inputs_) return;
  draw_track_plate(canvas, *inputs_);
  if (!model_) return;
  for (int w = 0; w < model_->wells(); ++w)
    if (model_->history(w)[0].known()) draw_track_label(canvas, *inputs_, w, model_->cumulative(w));
}

bool TrackRun::export_picture(common::Canvas& canvas, const fs::path& program_folder) {
  const fs::path file = program_folder / "trackimg.bmp";
  if (!canvas.save(file, common::ImageFormat::Bmp)) return false;
  (void)shell_.open(file);
  return true;
}

std::string TrackRun::page_text() const {
  if (!model_) return {};
  return std::to_string(model_->steps_done()) + "/" + std::to_string(model_->total_steps());
}

} // namespace kestrova::browser
