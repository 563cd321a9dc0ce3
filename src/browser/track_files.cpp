#include "browser/track_files.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

#include "acquisition/activity_files.hpp"
#include "acquisition/counts_reader.hpp"
#include "acquisition/realtime_fit.hpp"
#include "common/file_commit.hpp"
#include "common/number_format.hpp"
#include "reports/report_writer.hpp"
#include "store/channel_tables.hpp"
#include "store/plate_layout.hpp"
#include "store/record_file.hpp"
#include "store/setup_file.hpp"

namespace kestrova::browser {

namespace fs = std::filesystem;

namespace {

std::string error_loading(const fs::path& file) { return "Error loading " + file.string(); }

// The setup values a track needs: plate name (line 2), real-time buffer length (line 4) and
// organism (line 10).
bool read_setup(const fs::path& file, TrackInputs& in) {
  const auto lines = store::read_text_lines(file);
  if (!lines || lines->size() < 10) return false;
  int number = 0;
  std::string name, working;
  if (!store::RecordReader((*lines)[1]).read(number, name, working, in.plate_name) ||
      in.plate_name.empty())
    return false;
  int v[6] = {};
  if (!store::RecordReader((*lines)[3]).read(v[0], v[1], v[2], v[3], v[4], v[5])) return false;
  in.buffer_length =
      acquisition::valid_buffer_length(v[3]) ? v[3] : acquisition::kDefaultBufferLength;
  if (!store::RecordReader((*lines)[9]).read(v[0])) return false;
  in.organism = v[0];
  return true;
}

// Reads a table file (a header, then records of a number and a value) into entries 0, 1, ...;
// a missing or damaged file leaves the entries it did not reach as they were.
template <typename Store> void read_table(const fs::path& file, int entries, Store&& store_entry) {
  auto reader = store::RecordReader::open(file);
  if (!reader || !reader->read_string()) return;
  for (int i = 0; i < entries && !reader->at_end(); ++i) {
    int number = 0;
    if (!reader->read(number) || !store_entry(*reader, i)) return;
  }
}

void read_groups(const fs::path& folder, TrackInputs& in) {
  const auto defaults = store::DefaultGroupNames();
  std::copy(defaults.begin(), defaults.end(), in.group_names.begin());
  read_table(folder / store::kGroupNamesFile, store::kChannelSlots, [&](auto& r, int i) {
    auto name = r.read_string();
    if (name) in.group_names[i] = *name;
    return name.has_value();
  });
  in.channel_group.fill(store::kFreeGroup);
  read_table(folder / store::kChannelGroupsFile, store::kChannelSlots, [&](auto& r, int i) {
    auto group = r.read_integer();
    if (!group || *group < -1 || *group >= store::kGroupCount) return false;
    in.channel_group[i] = *group;
    return true;
  });
  in.enabled.fill(true);
  read_table(folder / store::kStatusFile, store::kChannelSlots, [&](auto& r, int i) {
    auto status = r.read_integer();
    if (status) in.enabled[i] = *status != 0;
    return status.has_value();
  });
}

std::optional<std::string> read_plate(const TrackPlateSource& source, TrackInputs& in) {
  if (!source.data_folder) {
    const auto layout = store::FindPlateLayout(in.plate_name);
    if (!layout) return store::PlateFileNotFoundMessage(in.plate_name);
    in.plate = store::GeneratePlateFormat(*layout);
    return std::nullopt;
  }
  const auto file = store::FindPlateFormatFile(*source.data_folder, in.plate_name, true);
  if (!file) return store::PlateFileNotFoundMessage(in.plate_name);
  if (!store::ReadPlateFormatFile(*file, in.plate).ok) return error_loading(*file);
  return std::nullopt;
}

// The first real-time file that cannot serve blocks 0..blocks-1, with the message for it.
std::optional<std::string> check_realtime_files(const fs::path& folder, std::int64_t blocks,
                                                int buffer_length) {
  const std::int64_t per_file = acquisition::kBlocksPerRealtimeFile;
  const auto block_bytes =
      static_cast<std::uintmax_t>(acquisition::realtime_block_bytes(buffer_length));
  for (std::int64_t k = 0; k * per_file < blocks; ++k) {
    const fs::path file = folder / acquisition::realtime_file_name(k);
    const std::int64_t needed = std::min(per_file, blocks - k * per_file);
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
      if (k == 0) return std::string(kTrackRealtimeNotFound);
      return "Real-time file " + file.string() + " not found";
    }
    const auto size = fs::file_size(file, ec);
    if (ec) return error_loading(file);
    const auto held = static_cast<std::int64_t>(size / block_bytes);
    if (held < needed)
      return "Real-time file " + file.string() + " holds " + std::to_string(held) + " of the " +
             std::to_string(needed) + " blocks needed";
  }
  return std::nullopt;
}

} // namespace

std::vector<std::vector<int>> TrackInputs::well_channels() const {
  std::vector<std::vector<int>> wells(static_cast<std::size_t>(plate.map.greatest_well) + 1);
  std::vector<std::vector<std::pair<int, int>>> by_position(wells.size());
  for (int c = 0; c < store::kChannelCount; ++c) {
    const int w = plate.map.well_of_channel[c];
    if (w < 0 || w >= static_cast<int>(wells.size())) continue;
    by_position[w].emplace_back(plate.map.position_of_channel[c], c);
  }
  for (std::size_t w = 0; w < wells.size(); ++w) {
    std::sort(by_position[w].begin(), by_position[w].end());
    for (const auto& [position, channel] : by_position[w])
      wells[w].push_back(channel);
  }
  return wells;
}

bool track_offered(std::string_view plate_name, int organism) {
  std::string name(plate_name);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  return name == kTrackPlate && (organism == 1 || organism == 3);
}

TrackLoad load_track_inputs(const fs::path& folder, const TrackPlateSource& plate) {
  TrackLoad load;
  TrackInputs in;
  in.folder = folder;
  // A replace of its files that a kill interrupted is completed (or dropped) first.
  common::settle_pending_commit(folder);
  const fs::path counts = folder / acquisition::kCountsFileName;
  if (!store::FileExists(counts)) {
    load.error = kTrackActivityNotFound;
    return load;
  }
  const fs::path setup = folder / store::kSetupFileName;
  if (!read_setup(setup, in)) {
    load.error = error_loading(setup);
    return load;
  }
  if (!track_offered(in.plate_name, in.organism)) {
    load.error = "The track is for w6 plates with zebrafish or Drosophila; this acquisition has "
                 "plate " +
                 in.plate_name + " and organism " + std::to_string(in.organism);
    return load;
  }
  if (auto problem = read_plate(plate, in)) {
    load.error = *problem;
    return load;
  }
  read_groups(folder, in);

  const acquisition::CountsReadResult read =
      acquisition::read_counts_records(counts, [&](const acquisition::CountsRecordView& record) {
        in.record_minutes.push_back(static_cast<double>(record.minutes));
        return true;
      });
  if (!read.ok()) {
    load.error = read.problem;
    return load;
  }
  if (in.records() < 2) {
    load.error = "Too few activity records to track in " + counts.string() + ": " +
                 std::to_string(in.records()) + " (at least 2)";
    return load;
  }
  if (auto misfit = acquisition::realtime_size_misfit(folder, in.buffer_length, setup)) {
    load.error = *misfit;
    return load;
  }
  if (auto problem = check_realtime_files(folder, in.blocks(), in.buffer_length)) {
    load.error = *problem;
    return load;
  }
  load.inputs = std::move(in);
  return load;
}

RealtimeBlocks::RealtimeBlocks(fs::path folder, int buffer_length)
    : folder_(std::move(folder)),
      block_bytes_(acquisition::realtime_block_bytes(acquisition::valid_buffer_length(buffer_length)
                                                         ? buffer_length
                                                         : acquisition::kDefaultBufferLength)) {}

RealtimeBlocks::~RealtimeBlocks() {
  if (fd_ >= 0) ::close(fd_);
  if (next_fd_ >= 0) ::close(next_fd_);
}

namespace {

// Asks the system to read the whole file into its cache in the background.
void read_soon(int fd) {
#if defined(POSIX_FADV_WILLNEED)
  (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_WILLNEED);
#else
  (void)fd;
#endif
}

} // namespace

bool RealtimeBlocks::read(std::int64_t block, std::vector<std::int16_t>& samples) {
  if (block < 0) return false;
  const std::int64_t number = block / acquisition::kBlocksPerRealtimeFile;
  if (number != number_) {
    if (fd_ >= 0) ::close(fd_);
    if (number == next_number_) {
      fd_ = std::exchange(next_fd_, -1);
      next_number_ = -1;
    } else {
      fd_ =
          ::open((folder_ / acquisition::realtime_file_name(number)).c_str(), O_RDONLY | O_CLOEXEC);
      if (fd_ >= 0) read_soon(fd_);
    }
    number_ = fd_ >= 0 ? number : -1;
    if (fd_ < 0) return false;
    // The next file is read from disk while this one is worked on.
    if (next_number_ != number + 1) {
      if (next_fd_ >= 0) ::close(next_fd_);
      next_fd_ = ::open((folder_ / acquisition::realtime_file_name(number + 1)).c_str(),
                        O_RDONLY | O_CLOEXEC);
      next_number_ = next_fd_ >= 0 ? number + 1 : -1;
      if (next_fd_ >= 0) read_soon(next_fd_);
    }
  }
  samples.resize(block_bytes_ / 2);
  std::byte* target = reinterpret_cast<std::byte*>(samples.data());
  if constexpr (std::endian::native != std::endian::little) {
    bytes_.resize(block_bytes_);
    target = bytes_.data();
  }
  const auto offset =
      static_cast<off_t>((block % acquisition::kBlocksPerRealtimeFile) * block_bytes_);
  for (std::size_t done = 0; done < block_bytes_;) {
    const ssize_t got =
        ::pread(fd_, target + done, block_bytes_ - done, offset + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  if constexpr (std::endian::native != std::endian::little)
    acquisition::decode_samples(bytes_, samples);
  return true;
}

std::string track_millimetres(double pitches) {
  const double mm = pitches * store::kBeamPitchMm;
  const double whole = mm < 0 ? -std::floor(-mm + 0.5) : std::floor(mm + 0.5);
  return common::format_display(whole, "0");
}

std::string track_date_text(const common::CivilTime& time) {
  return reports::report_date_text(time);
}

std::string track_table_text(const TrackTable& table, std::string_view separator,
                             char decimal_separator) {
  const std::string q = "\"";
  const std::string s(separator);
  const std::string end = "\r\n";
  std::string out;
  out += q + "DATE:" + q + s + q + table.date + q + end;
  out += q + "FILE:" + q + s + q + table.folder + q + end;
  out += end;
  out += q + "<<<<<< Travel Distance: [milimeter/acq_block] >>>>>>" + q + end;
  out += "Group/Time[m]";
  for (const double m : table.minutes)
    out += s + common::format_display(m, "0.0", decimal_separator);
  out += end;
  for (std::size_t w = 0; w < table.labels.size(); ++w) {
    out += q + table.labels[w] + q;
    for (std::size_t j = 0; j < table.minutes.size(); ++j)
      out += s + track_millimetres(w < table.distances.size() && j < table.distances[w].size()
                                       ? table.distances[w][j]
                                       : 0);
    out += end;
  }
  out += end;
  return out;
}

std::optional<fs::path> save_track_table(const fs::path& folder, std::string_view text) {
  return reports::save_report_file(folder, ".csv", text);
}

} // namespace kestrova::browser
