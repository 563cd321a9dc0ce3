#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/clock.hpp"

namespace kestrova::acquisition {

inline constexpr const char* kAcquisitionLogName = "acquisition.log";

// Writes like write(2); injectable so that tests can simulate a full disk.
using LogWriteFunction = std::function<long(int fd, const void* data, std::size_t size)>;

// "2026-12-11T14:03:22  text": one log line without its line end. Line breaks and other
// control characters in `text` become spaces, so one event is always one line.
std::string format_log_line(common::LocalTime now, std::string_view text);

// The event log of one acquisition: `acquisition.log` in the acquisition folder, one event a
// line, UTF-8, each line appended with a single write so that it reaches the file (or fails)
// whole. The file is opened for each line and closed after it, so nothing stays open between
// events and a folder that goes and comes back is logged into again. Never throws and never
// blocks the recording: a line that cannot be written is counted and dropped, and the first
// line that gets through after a failure says how many were lost. The file is opened without
// following a symbolic link and only when it is a regular file.
class AcquisitionLog {
public:
  explicit AcquisitionLog(LogWriteFunction write = {});
  ~AcquisitionLog();
  AcquisitionLog(const AcquisitionLog&) = delete;
  AcquisitionLog& operator=(const AcquisitionLog&) = delete;

  // Logs into `folder` from now on; false when the file cannot be opened yet, in which case
  // every later write tries again.
  bool open(const std::filesystem::path& folder);
  // Stops logging; later writes do nothing until the next open.
  void close();
  // Appends one event; false when the line was lost.
  bool write(common::LocalTime now, std::string_view text);

  // Whether a folder is being logged into and its file took the last line (or the opening).
  bool is_open() const { return !folder_.empty() && healthy_; }
  // Whether a folder was given, so that writes are attempted.
  bool active() const { return !folder_.empty(); }
  std::filesystem::path path() const;
  // Lines lost since open, in all.
  std::int64_t lines_lost() const { return lost_total_; }

private:
  // The file opened for appending; -1 when it cannot be.
  int open_file() const;
  bool put(const std::string& line);

  LogWriteFunction write_;
  std::filesystem::path folder_;
  bool healthy_ = false;
  std::int64_t lost_total_ = 0;
  std::int64_t lost_unreported_ = 0;
  bool torn_ = false; // a short write left part of a line: start the next one on a new line
};

// The whole log of an acquisition folder for a viewer; nothing when the folder has no log or it
// cannot be read.
std::optional<std::string> read_acquisition_log(const std::filesystem::path& folder);

} // namespace kestrova::acquisition
