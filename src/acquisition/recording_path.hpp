#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "acquisition/cycle_interfaces.hpp"
#include "common/dialogs.hpp"
#include "common/event_pump.hpp"

namespace kestrova::acquisition {

// The boxes and the event pump of the code that an acquisition runs without a person: the
// tick, the buffer end, the completion and an unattended start, and whatever they call (the
// device protocol, the recalibration, the automatic report). Outside that path every box goes
// to the operator as usual. On it nothing waits for anyone: a message becomes a notice (status
// line, mark and log, through the notice function) and a question takes its default answer,
// which the notice states. Events let run through pump() are the operator's again, so a box
// that a click opens meanwhile is asked as usual.
class RecordingPath {
public:
  using NoticeFunction = std::function<void(std::string_view text, NoticeLevel level)>;

  RecordingPath(common::Dialogs& operator_dialogs, common::EventPump& operator_pump);
  RecordingPath(const RecordingPath&) = delete;
  RecordingPath& operator=(const RecordingPath&) = delete;

  common::Dialogs& dialogs() { return dialogs_; }
  common::EventPump& pump() { return pump_; }
  void set_notice(NoticeFunction notice) { notice_ = std::move(notice); }

  // Marks the recording path for as long as it lives; scopes nest.
  class Scope {
  public:
    explicit Scope(RecordingPath& path) : path_(path) { ++path_.depth_; }
    ~Scope() { --path_.depth_; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

  private:
    RecordingPath& path_;
  };
  bool unattended() const { return depth_ > 0; }

  // The answer a box gets when nobody is there: Ok for a plain message; otherwise the answer
  // that changes nothing (No, Cancel).
  static common::Answer default_answer(common::Buttons buttons);

private:
  class PathDialogs final : public common::Dialogs {
  public:
    explicit PathDialogs(RecordingPath& path) : path_(path) {}
    common::Answer message(std::string_view text, common::Buttons buttons, common::Icon icon,
                           std::string_view title) override;
    std::optional<std::string> input(std::string_view prompt, std::string_view title,
                                     std::string_view default_text) override;
    std::optional<std::filesystem::path> save_file(std::string_view title,
                                                   const std::filesystem::path& suggested,
                                                   std::string_view types) override;

  private:
    RecordingPath& path_;
  };
  class PathPump final : public common::EventPump {
  public:
    explicit PathPump(RecordingPath& path) : path_(path) {}
    void process_events() override;
    void wait_for_events() override;

  private:
    RecordingPath& path_;
  };

  void notice(std::string_view text, NoticeLevel level);

  common::Dialogs& operator_dialogs_;
  common::EventPump& operator_pump_;
  PathDialogs dialogs_{*this};
  PathPump pump_{*this};
  NoticeFunction notice_;
  int depth_ = 0;
};

} // namespace kestrova::acquisition
