#include "acquisition/recording_path.hpp"

namespace kestrova::acquisition {

namespace {

// Runs `work` as the operator's turn: boxes opened meanwhile are asked again.
template <typename Work> void operator_turn(int& depth, Work work) {
  const int saved = depth;
  depth = 0;
  work();
  depth = saved;
}

} // namespace

RecordingPath::RecordingPath(common::Dialogs& operator_dialogs, common::EventPump& operator_pump)
    : operator_dialogs_(operator_dialogs), operator_pump_(operator_pump) {}

common::Answer RecordingPath::default_answer(common::Buttons buttons) {
  return common::unattended_answer(buttons);
}

void RecordingPath::notice(std::string_view text, NoticeLevel level) {
  if (notice_) notice_(text, level);
}

common::Answer RecordingPath::PathDialogs::message(std::string_view text, common::Buttons buttons,
                                                   common::Icon icon, std::string_view title) {
  if (!path_.unattended()) return path_.operator_dialogs_.message(text, buttons, icon, title);
  const common::Answer answer = default_answer(buttons);
  std::string shown(text);
  if (buttons != common::Buttons::Ok)
    shown += std::string(" [nobody to answer: ") + common::answer_name(answer) + "]";
  const bool information = icon == common::Icon::Information && buttons == common::Buttons::Ok;
  path_.notice(shown, information ? NoticeLevel::Info : NoticeLevel::Problem);
  return answer;
}

std::optional<std::string> RecordingPath::PathDialogs::input(std::string_view prompt,
                                                             std::string_view title,
                                                             std::string_view default_text) {
  if (!path_.unattended()) return path_.operator_dialogs_.input(prompt, title, default_text);
  path_.notice(std::string(prompt) + " [nobody to answer: Cancel]", NoticeLevel::Problem);
  return std::nullopt;
}

std::optional<std::filesystem::path> RecordingPath::PathDialogs::save_file(
    std::string_view title, const std::filesystem::path& suggested, std::string_view types) {
  if (!path_.unattended()) return path_.operator_dialogs_.save_file(title, suggested, types);
  path_.notice(std::string(title) + " [nobody to choose a file: Cancel]", NoticeLevel::Problem);
  return std::nullopt;
}

void RecordingPath::PathPump::process_events() {
  operator_turn(path_.depth_, [this] { path_.operator_pump_.process_events(); });
}

void RecordingPath::PathPump::wait_for_events() {
  operator_turn(path_.depth_, [this] { path_.operator_pump_.wait_for_events(); });
}

} // namespace kestrova::acquisition
