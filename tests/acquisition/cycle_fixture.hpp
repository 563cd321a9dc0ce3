// The acquisition engine's test fixture: a scripted serial line, a virtual clock and views
// that keep what they were shown.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/acquisition_cycle.hpp"
#include "acquisition/activity_files.hpp"
#include "device/fake_serial.hpp"
#include "store/plate_format.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::acquisition::cycle_testing {

namespace fs = std::filesystem;
using common::Answer;
using testing::FakeClock;
using testing::FakeDialogs;
using testing::FakeEventPump;
using testing::FakeSerialIo;
using testing::FakeShell;
using testing::TempDir;

constexpr int kB = 10; // samples per buffer in these tests

struct RecordingView final : CycleView {
  void set_autotext(std::string_view t) override { autotext.emplace_back(t); }
  void set_autochannel(std::string_view t) override { autochannel.emplace_back(t); }
  void set_time_text(std::string_view t) override { time = t; }
  void show_notice(std::string_view t, NoticeLevel level) override {
    notices.emplace_back(t);
    if (level == NoticeLevel::Problem) problems.emplace_back(t);
  }
  std::vector<std::string> autotext;
  std::vector<std::string> autochannel;
  std::vector<std::string> notices;  // the status line, in order
  std::vector<std::string> problems; // the notices that raised the mark
  std::string time;
};

struct RecordingHost final : AcquisitionHost {
  void open_setup() override { ++setups; }
  void show_main_window() override { ++main_shown; }
  void end_program() override { ++ended; }
  void acquisition_stopped() override { ++stopped; }
  int setups = 0;
  int main_shown = 0;
  int ended = 0;
  int stopped = 0;
};

struct RecordingReport final : ReportRequest {
  bool automatic() const override { return user_bin; }
  void open_report(const fs::path& f, bool histogram, bool autoreport) override {
    folder = f;
    histogram_option = histogram;
    auto_report = autoreport;
    ++opened;
  }
  fs::path folder;
  bool histogram_option = false;
  bool auto_report = false;
  int opened = 0;
  bool user_bin = false; // "User Defined BIN size", read at completion
};

// A sink that can fail and counts what it saw.
struct CountingSink final : BufferEndSink {
  SinkResult consume(const BufferEnd& b) override {
    seen.push_back(b.index);
    if (inside) inside();
    if (fail) return {false, "sink failed"};
    return {};
  }
  std::vector<std::int64_t> seen;
  bool fail = false;
  std::function<void()> inside;
};

class CycleTest : public ::testing::Test {
protected:
  CycleTest() {
    project_.project_folder = tmp_ / "p00001";
    fs::create_directories(project_.project_folder);
    project_.config.Actual_Project_Number = 1;
    project_.setup.RT_Buffer = kB;
    project_.setup.DSP_Interval = 3;
    project_.setup.Aq_lapse = 2;
    project_.setup.tool_settings[0][1] = 0; // no start-up calibration
    project_.setup.tool_settings[0][2] = 0;
    project_.plate = *store::BuiltInPlateFormat("w96f");
    link_.port = 1;
    link_.connected = true;
    io_.present = {1};
    io_.CommOpen(1, "COM1", "");
    io_.respond = [this](int, std::string_view frame) { return reply(frame); };
    make_cycle();
  }

  void make_cycle() {
    CycleContext ctx{project_,  link_,    io_,
                     protocol_, dialogs_, pump_,
                     clock_,    shell_,   [this](const fs::path&) { return free_mb_; },
                     write_at_};
    cycle_ = std::make_unique<AcquisitionCycle>(ctx);
    cycle_->set_view(&view_);
    cycle_->set_host(&host_);
    cycle_->set_report(&report_);
  }

  std::string reply(std::string_view frame) {
    const int code = static_cast<unsigned char>(frame[2]);
    const int arg = static_cast<unsigned char>(frame[3]);
    if (code == device::kCodeTemperature) return std::string(1, static_cast<char>(100));
    if (code != device::kCodeReadBlock || silent_ || arg == bad_block_) return {};
    ++scans_;
    std::string out;
    for (int v = 0; v < device::kBlockValues; ++v) {
      const int value = level_ + (scans_ + v) % 200;
      out.push_back(static_cast<char>(value >> 8));
      out.push_back(static_cast<char>(value & 0xFF));
    }
    return out;
  }

  StartOutcome start(std::string name = "Run 1") {
    dialogs_.script_input(std::move(name));
    StartRequest r;
    r.description = "notes";
    return cycle_->start(r);
  }

  // Runs ticks, letting `ms` of virtual time pass before each.
  void ticks(int n, int ms = 30) {
    for (int i = 0; i < n; ++i) {
      clock_.advance_ms(ms);
      cycle_->tick();
    }
  }

  fs::path folder() const { return cycle_->folder(); }
  std::uintmax_t size_of(const std::string& name) const {
    std::error_code ec;
    const auto n = fs::file_size(folder() / name, ec);
    return ec ? 0 : n;
  }

  TempDir tmp_;
  store::ProjectState project_;
  device::LinkState link_;
  FakeSerialIo io_;
  FakeDialogs dialogs_;
  FakeEventPump pump_;
  FakeClock clock_;
  FakeShell shell_;
  device::DeviceProtocol protocol_{io_, link_, clock_, dialogs_};
  RecordingView view_;
  RecordingHost host_;
  RecordingReport report_;
  long long free_mb_ = 100000;
  WriteAtFunction write_at_;
  std::unique_ptr<AcquisitionCycle> cycle_;
  int scans_ = 0;
  int level_ = 1500;
  bool silent_ = false;
  int bad_block_ = -1;
};

// The output bytes sent so far (code 0x10 frames).
inline std::vector<int> output_bytes(const FakeSerialIo& io) {
  std::vector<int> out;
  for (const std::string& f : io.frames())
    if (static_cast<unsigned char>(f[2]) == device::kCodeSetOutputs)
      out.push_back(static_cast<unsigned char>(f[3]));
  return out;
}

} // namespace kestrova::acquisition::cycle_testing
