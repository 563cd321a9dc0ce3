#include "reports/reanalysis.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "acquisition/activity_files.hpp"
#include "acquisition/counts_reader.hpp"
#include "acquisition/detection.hpp"
#include "acquisition/realtime_fit.hpp"
#include "common/file_commit.hpp"
#include "common/rounding.hpp"
#include "common/safe_file.hpp"
#include "reports/counts_replace.hpp"
#include "reports/rebin.hpp"
#include "store/folder_lock.hpp"
#include "store/record_file.hpp"
#include "store/setup_file.hpp"

namespace kestrova::reports {

namespace fs = std::filesystem;
using acquisition::kChannelSlots;
using acquisition::kCountsRecordBytes;
using acquisition::kDetectionSamples;

namespace {

constexpr std::int64_t kWholeRecording = INT64_MAX;
// The scratch file of the detection flags is named after this (see common::ScratchFile).
constexpr const char* kRawExportScratch = "raw_export";

// A file descriptor closed on scope exit.
class Fd {
public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int get() const { return fd_; }

private:
  int fd_;
};

bool pread_all(int fd, void* data, std::size_t size, std::int64_t offset) {
  auto* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = ::pread(fd, p, size, offset);
    if (got <= 0) return false;
    p += got;
    size -= static_cast<std::size_t>(got);
    offset += got;
  }
  return true;
}

bool pwrite_all(int fd, const void* data, std::size_t size, std::int64_t offset) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = ::pwrite(fd, p, size, offset);
    if (put <= 0) return false;
    p += put;
    size -= static_cast<std::size_t>(put);
    offset += put;
  }
  return true;
}

std::optional<double> parse_threshold(std::string text) {
  std::replace(text.begin(), text.end(), ',', '.');
  const auto first = text.find_first_not_of(' ');
  const auto last = text.find_last_not_of(' ');
  if (first == std::string::npos) return std::nullopt;
  double value = 0;
  const char* begin = text.data() + first;
  const char* end = text.data() + last + 1;
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

// The real-time buffer length of the acquisition's setup snapshot (line 4, 4th value), 500 when
// it cannot be read.
int recorded_buffer_length(const fs::path& folder) {
  auto text = store::read_text_file(folder / store::kSetupFileName);
  if (!text) return acquisition::kDefaultBufferLength;
  store::RecordReader reader(*text);
  for (int i = 0; i < 3; ++i)
    if (!reader.read_line()) return acquisition::kDefaultBufferLength;
  int v[6] = {};
  if (!reader.read(v[0], v[1], v[2], v[3], v[4], v[5])) return acquisition::kDefaultBufferLength;
  return v[3];
}

// The records of counts.bin that a run analyses.
struct Records {
  std::vector<std::int32_t> raw_time;
  ActivityRows rows; // record times and temperatures; counts filled by the detection
};

// Reads the records of the span: record 0, then each record while the previous record time is
// below the span, through the counts reader (monotonic times, damaged times refused).
std::optional<Records> read_records(const fs::path& counts, std::int64_t span,
                                    std::string& problem) {
  Records out;
  std::vector<std::int32_t> times;
  std::vector<std::int32_t> temperatures;
  const acquisition::CountsReadResult read =
      acquisition::read_counts_records(counts, [&](const acquisition::CountsRecordView& record) {
        out.raw_time.push_back(record.minutes);
        times.push_back(static_cast<std::int32_t>(record.time));
        temperatures.push_back(record.slot(kChannels));
        return record.time < span;
      });
  if (!read.ok()) {
    problem = read.problem;
    return std::nullopt;
  }
  out.rows.resize(times.size());
  out.rows.time = std::move(times);
  out.rows.temperature = std::move(temperatures);
  return out;
}

// The first real-time file that cannot serve blocks 0..records-1, with the message for it.
std::optional<std::string> check_realtime_files(const fs::path& folder, std::int64_t records,
                                                std::size_t block_bytes) {
  const int per_file = acquisition::kBlocksPerRealtimeFile;
  for (std::int64_t k = 0; k * per_file < records; ++k) {
    const fs::path file = folder / acquisition::realtime_file_name(k);
    const std::int64_t needed = std::min<std::int64_t>(per_file, records - k * per_file);
    std::error_code ec;
    if (!fs::is_regular_file(file, ec))
      return "Real-time file " + file.string() + " not found; nothing was changed";
    const auto size = fs::file_size(file, ec);
    if (ec) return "Error reading " + file.string() + "; nothing was changed";
    const std::int64_t held = static_cast<std::int64_t>(size / block_bytes);
    if (held < needed)
      return "Real-time file " + file.string() + " holds " + std::to_string(held) + " of the " +
             std::to_string(needed) + " blocks needed; nothing was changed";
  }
  return std::nullopt;
}

// Reads block b of the real-time files, keeping the file of the current number open.
class BlockReader {
public:
  BlockReader(fs::path folder, int buffer_length)
      : folder_(std::move(folder)), block_bytes_(acquisition::realtime_block_bytes(buffer_length)),
        samples_(block_bytes_ / 2),
        bytes_(std::endian::native == std::endian::little ? 0 : block_bytes_) {}

  // The block as samples, or nullopt with the file that failed in `failed`.
  std::span<std::int16_t> read(std::int64_t block) {
    const std::int64_t number = block / acquisition::kBlocksPerRealtimeFile;
    if (number != number_) {
      failed_ = folder_ / acquisition::realtime_file_name(number);
      fd_.reset(::open(failed_.c_str(), O_RDONLY | O_CLOEXEC));
      number_ = fd_.get() >= 0 ? number : -1;
      if (fd_.get() < 0) return {};
      // Let the disk read this file and the next one while the blocks are being counted.
      ::posix_fadvise(fd_.get(), 0, 0, POSIX_FADV_WILLNEED);
      const fs::path next = folder_ / acquisition::realtime_file_name(number + 1);
      Fd ahead(::open(next.c_str(), O_RDONLY | O_CLOEXEC));
      if (ahead.get() >= 0) ::posix_fadvise(ahead.get(), 0, 0, POSIX_FADV_WILLNEED);
    }
    const std::int64_t offset =
        (block % acquisition::kBlocksPerRealtimeFile) * static_cast<std::int64_t>(block_bytes_);
    if constexpr (std::endian::native == std::endian::little) {
      if (!pread_all(fd_.get(), samples_.data(), block_bytes_, offset)) return {};
    } else {
      if (!pread_all(fd_.get(), bytes_.data(), block_bytes_, offset)) return {};
      acquisition::decode_samples(bytes_, samples_);
    }
    return samples_;
  }
  const fs::path& file() const { return failed_; }

private:
  fs::path folder_;
  std::size_t block_bytes_;
  std::vector<std::int16_t> samples_;
  std::vector<std::byte> bytes_;
  Fd fd_;
  std::int64_t number_ = -1;
  fs::path failed_;
};

// Counts the channels of a block on one or two threads. The channels are cut into chunks that
// the threads claim one at a time, so a thread that the system keeps waiting holds up at most
// one chunk. Each channel's count depends on its own samples only, so every split gives the
// numbers of one thread.
class DetectionTeam {
public:
  DetectionTeam(int threads, std::vector<int> channels, double threshold, int method,
                bool with_flags)
      : channels_(std::move(channels)), threshold_(threshold),
        method_(static_cast<std::int16_t>(method)), with_flags_(with_flags),
        chunks_((channels_.size() + kChunk - 1) / kChunk) {
    detectors_.push_back(std::make_unique<acquisition::ActivityDetector>());
    if (threads > 1 && chunks_ > 1) {
      detectors_.push_back(std::make_unique<acquisition::ActivityDetector>());
      helper_ = std::thread([this] { helper_loop(); });
    }
  }
  DetectionTeam(const DetectionTeam&) = delete;
  DetectionTeam& operator=(const DetectionTeam&) = delete;
  ~DetectionTeam() {
    if (!helper_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_one();
    helper_.join();
  }

  // counts[i] receives the count of channels[i]; with flags, flags[i * 500 ...] its flags.
  void run(acquisition::RawBlock block, std::int16_t* counts, char* flags) {
    block_ = block;
    counts_ = counts;
    flags_ = flags;
    finished_.store(0, std::memory_order_relaxed);
    ++generation_;
    claims_.store(generation_ << 32, std::memory_order_release);
    if (helper_.joinable()) {
      {
        std::lock_guard lock(mutex_);
        wanted_ = generation_;
      }
      wake_.notify_one();
    }
    work(*detectors_[0], generation_);
    if (finished_.load(std::memory_order_acquire) != chunks_) {
      std::unique_lock lock(mutex_);
      done_cv_.wait(lock, [&] { return finished_.load(std::memory_order_acquire) == chunks_; });
    }
  }

private:
  static constexpr std::size_t kChunk = 32; // channels, a multiple of the detector's lanes

  void helper_loop() {
    std::uint64_t seen = 0;
    for (;;) {
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return quit_ || wanted_ != seen; });
        if (quit_) return;
        seen = wanted_;
      }
      work(*detectors_[1], seen);
    }
  }

  // Claims and counts chunks of block `generation` until none is left.
  void work(acquisition::ActivityDetector& detector, std::uint64_t generation) {
    for (;;) {
      std::uint64_t claim = claims_.load(std::memory_order_acquire);
      do {
        if (claim >> 32 != generation || (claim & 0xFFFFFFFFu) >= chunks_) return;
      } while (!claims_.compare_exchange_weak(claim, claim + 1, std::memory_order_acq_rel));
      const std::size_t from = (claim & 0xFFFFFFFFu) * kChunk;
      count_range(detector, from, std::min(channels_.size(), from + kChunk));
      if (finished_.fetch_add(1, std::memory_order_acq_rel) + 1 == chunks_) {
        std::lock_guard lock(mutex_);
        done_cv_.notify_one();
      }
    }
  }

  void count_range(acquisition::ActivityDetector& detector, std::size_t from, std::size_t to) {
    if (from >= to) return;
    if (!with_flags_) {
      detector.detect_channels(block_, std::span<const int>(channels_).subspan(from, to - from),
                               threshold_, method_,
                               std::span<std::int16_t>(counts_ + from, to - from));
      return;
    }
    for (std::size_t i = from; i < to; ++i) {
      counts_[i] = detector.detect_activity(block_, channels_[i], threshold_, method_, 0, {}, 0);
      std::memcpy(flags_ + i * kDetectionSamples, detector.detection_flags().data(),
                  kDetectionSamples);
    }
  }

  std::vector<int> channels_;
  double threshold_;
  std::int16_t method_;
  bool with_flags_;
  std::uint64_t chunks_;
  std::vector<std::unique_ptr<acquisition::ActivityDetector>> detectors_;
  acquisition::RawBlock block_{};
  std::int16_t* counts_ = nullptr;
  char* flags_ = nullptr;
  std::uint64_t generation_ = 0;           // written by the calling thread only
  std::atomic<std::uint64_t> claims_{0};   // generation << 32 | next chunk
  std::atomic<std::uint64_t> finished_{0}; // chunks of the current block counted
  std::thread helper_;
  std::mutex mutex_;
  std::condition_variable wake_, done_cv_;
  std::uint64_t wanted_ = 0; // the block the helper is asked to join, under mutex_
  bool quit_ = false;
};

// The detection flags of a run, kept in a scratch file (record-major, 500 bytes per analysed
// channel and record; a slot of zeros is a record that was not analysed) until the run has
// finished, then appended to ch<channel>.raw.
class RawExport {
public:
  RawExport(const fs::path& folder, std::size_t channels)
      : file_(folder / kRawExportScratch), channels_(channels) {}
  bool ok() const { return file_.ok(); }
  // The message of a failed write.
  std::string error() const { return file_.error(); }
  const fs::path& path() const { return file_.path(); }
  bool put(std::int64_t record, const char* flags) {
    const std::size_t size = channels_ * kDetectionSamples;
    return pwrite_all(file_.fd(), flags, size, record * static_cast<std::int64_t>(size));
  }
  // Appends the lines of every record analysed to the channel files; false with the message in
  // `error`. A channel file that is a symbolic link is refused, not followed.
  bool publish(const fs::path& folder, const std::vector<int>& channels,
               const std::vector<std::int32_t>& raw_time, std::int64_t records,
               std::string& error) {
    std::vector<char> flags(kDetectionSamples);
    // Records not analysed at the end were never written: they read as zeros.
    if (::ftruncate(file_.fd(),
                    records * static_cast<std::int64_t>(channels_ * kDetectionSamples)) != 0) {
      error = "Error writing " + file_.path().string();
      return false;
    }
    for (std::size_t i = 0; i < channels.size(); ++i) {
      std::string text;
      for (std::int64_t r = 0; r < records; ++r) {
        const std::int64_t offset =
            (r * static_cast<std::int64_t>(channels_) + static_cast<std::int64_t>(i)) *
            kDetectionSamples;
        if (!pread_all(file_.fd(), flags.data(), flags.size(), offset)) {
          error = "Error reading " + file_.path().string();
          return false;
        }
        if (flags[0] == 0) continue;
        text += std::to_string(raw_time[r]) + " ";
        text.append(flags.data(), flags.size());
        text += "\r\n";
      }
      const fs::path channel_file = folder / ("ch" + std::to_string(channels[i]) + ".raw");
      if (!common::append_to_file(channel_file, text, &error)) return false;
    }
    return true;
  }

private:
  common::ScratchFile file_; // removed when the export goes
  std::size_t channels_;
};

} // namespace

const std::array<std::string_view, 4>& detection_method_names() {
  static constexpr std::array<std::string_view, 4> kNames = {
      "0_Threshold+Binary (Old Method.w/filters)", "1_Threshold Avrg (Default.Agar&Liquid)",
      "2_uOrganism (Motility Index)", "3_Drosophila (Threshold)"};
  return kNames;
}

const std::array<std::string_view, 4>& organism_names() {
  static constexpr std::array<std::string_view, 4> kNames = {"C elegans(>L4)", "Zebrafish(Larvae)",
                                                             "Echinococcus", "Drosophila"};
  return kNames;
}

std::string organism_threshold_text(int organism) {
  switch (organism) {
  case 1:
    return "2.8";
  case 3:
    return "0.8";
  default:
    return "1.8";
  }
}

std::optional<int> organism_method(int organism) {
  if (organism == 2) return 2;
  if (organism == 3) return 3;
  return std::nullopt;
}

bool threshold_in_range(int organism, double threshold) {
  return organism == 3 ? threshold >= 0.5 && threshold <= 1 : threshold >= 1.1 && threshold <= 6;
}

std::int64_t span_minutes(double hours) {
  const double minutes = common::round_half_even(hours * 60);
  if (!(minutes >= 5)) return 5;
  return minutes >= 9e18 ? kWholeRecording : static_cast<std::int64_t>(minutes);
}

ReanalysisResult run_reanalysis(const ReanalysisRequest& request, ReportServices& services,
                                const ReanalysisControl& control) {
  ReanalysisResult result;
  common::Dialogs& dialogs = services.dialogs;
  const auto status = [&](const std::string& text) {
    if (control.show_status) control.show_status(text);
  };
  const fs::path& folder = request.report.acquisition_folder;
  const fs::path counts = folder / acquisition::kCountsFileName;
  // A replace of its files that a kill interrupted is completed (or dropped) first.
  common::settle_pending_commit(folder);
  if (!store::FileExists(counts)) {
    dialogs.message(kActivityNotFound);
    return result;
  }
  if (!store::FileExists(folder / acquisition::realtime_file_name(0))) {
    dialogs.message(kRealtimeNotFound);
    return result;
  }
  // The counts of a folder being recorded are its acquisition's; replacing them would lose
  // the records appended meanwhile and break their pairing with the real-time blocks.
  if (request.replace) {
    if (auto refusal = store::busy_folder_refusal(folder, kReplaceBusy)) {
      dialogs.message(*refusal, common::Buttons::Ok, common::Icon::Warning);
      return result;
    }
  }
  const auto threshold = parse_threshold(request.threshold_text);
  if (!threshold || request.method < 0 || request.method > 3 || request.organism < 0 ||
      request.organism > 3) {
    dialogs.message("Invalid value: " + request.threshold_text);
    return result;
  }

  const std::int64_t span =
      request.replace || !request.hours ? kWholeRecording : span_minutes(*request.hours);
  std::string problem = "Error loading " + counts.string();
  auto records = read_records(counts, span, problem);
  if (!records || records->raw_time.empty()) {
    dialogs.message(problem);
    return result;
  }
  const std::int64_t n = static_cast<std::int64_t>(records->raw_time.size());
  result.records = n;
  int bin = adjust_report_bin(std::max(request.report.settings.Bin, 2), records->rows.last_time());
  result.bin = std::max(bin, 2);

  const auto layout = load_acquisition_layout(folder, request.report.data_folder, services.dialogs);
  if (!layout) return result;
  const int buffer_length = recorded_buffer_length(folder);
  if (auto misfit = acquisition::realtime_size_misfit(folder, buffer_length,
                                                      folder / store::kSetupFileName)) {
    dialogs.message(*misfit + "; nothing was changed");
    return result;
  }
  const std::size_t block_bytes = acquisition::realtime_block_bytes(buffer_length);
  if (auto problem = check_realtime_files(folder, n, block_bytes)) {
    dialogs.message(*problem);
    return result;
  }

  // Channels counted: those in a well that has a channel at position 0.
  std::vector<int> channels;
  for (int c = 0; c < kChannels; ++c) {
    const int well = layout->well_of_channel[c];
    if (well >= 0 && layout->channel_at(well, 0) >= 0) channels.push_back(c);
  }
  const int threads =
      request.threads > 0
          ? request.threads
          : static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 2u));
  DetectionTeam team(threads, channels, *threshold, request.method, request.export_raw);
  std::optional<RawExport> raw;
  if (request.export_raw) {
    raw.emplace(folder, channels.size());
    if (!raw->ok()) {
      dialogs.message(raw->error() + "; nothing was changed");
      return result;
    }
  }

  ActivityRows& rows = records->rows;
  BlockReader reader(folder, buffer_length);
  std::vector<std::int16_t> block_counts(channels.size());
  std::vector<char> flags(request.export_raw ? channels.size() * kDetectionSamples : 0);
  const std::string of = "/" + std::to_string(n);
  status("Block 0" + of);
  for (std::int64_t r = 0; r < n; ++r) {
    status("Block " + std::to_string(r + 1) + of);
    if (r == 0 || records->raw_time[r] >= records->raw_time[r - 1]) {
      const std::span<std::int16_t> samples = reader.read(r);
      if (samples.empty()) {
        dialogs.message("Error reading " + reader.file().string() + "; nothing was changed");
        return result;
      }
      team.run(acquisition::RawBlock{samples}, block_counts.data(), flags.data());
      std::int32_t* row = rows.row(static_cast<std::size_t>(r));
      for (std::size_t i = 0; i < channels.size(); ++i)
        row[channels[i]] = block_counts[i];
      if (raw && !raw->put(r, flags.data())) {
        dialogs.message("Error writing " + raw->path().string() + "; nothing was changed");
        return result;
      }
    }
    status("Block " + std::to_string(r + 2) + of);
    if (control.progress) control.progress(r + 1, n);
    services.pump.process_events();
    if ((control.stop_requested && control.stop_requested()) ||
        common::cancelled(services.cancel)) {
      result.outcome = ReanalysisResult::Outcome::Stopped;
      return result;
    }
  }

  if (raw) {
    std::string failed;
    if (!raw->publish(folder, channels, records->raw_time, n, failed)) {
      dialogs.message(failed);
      return result;
    }
  }

  GenerateRequest report = request.report;
  report.settings.Bin = result.bin;
  // The basal acquisition's counts were made with other settings: no basal normalisation here.
  report.basal_choice.clear();
  if (!request.replace) {
    result.in_memory = true;
    result.setting_text = std::string(detection_method_names()[request.method]) + " " +
                          std::string(organism_names()[request.organism]) +
                          " [SNR=" + request.threshold_text + "]";
    report.setting_text = result.setting_text;
  } else {
    status("Saving...");
    services.pump.process_events();
    if (auto refusal = store::busy_folder_refusal(folder, kReplaceBusy)) {
      dialogs.message(*refusal);
      return result;
    }
    const CountsReplaceResult replaced = replace_counts(
        folder, rows, {request.method, request.organism, common::round_to_int(*threshold * 10)});
    if (replaced.error) {
      dialogs.message(*replaced.error);
      return result;
    }
    status("Block " + std::to_string(n) + of);
    if (!replaced.setup_updated) dialogs.message("error Updating setup.dat");
    report.setting_text.reset();
  }
  report.rows = std::move(rows);
  // Once counts.bin or a raw export file has changed, the report is made whatever is asked
  // meanwhile: a stop could no longer leave every file as it was.
  ReportServices report_services = services;
  if (raw || request.replace) report_services.cancel = nullptr;
  result.report = generate_report(report, report_services);
  if (result.report.bin > 0) result.bin = result.report.bin;
  result.rows = std::move(*report.rows);
  result.outcome = result.report.cancelled ? ReanalysisResult::Outcome::Stopped
                                           : ReanalysisResult::Outcome::Done;
  return result;
}

} // namespace kestrova::reports
