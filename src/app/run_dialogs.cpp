#include "app/run_dialogs.hpp"

namespace kestrova::app {

void RunDialogs::note(std::string text) {
  if (note_) note_(text);
  noted_.push_back(std::move(text));
  if (noted_.size() > kNotesKept) noted_.pop_front();
}

common::Answer RunDialogs::message(std::string_view text, common::Buttons buttons,
                                   common::Icon icon, std::string_view title) {
  if (!unattended()) return person_.message(text, buttons, icon, title);
  const common::Answer answer = common::unattended_answer(buttons);
  std::string line = "Message: " + std::string(text);
  if (buttons != common::Buttons::Ok)
    line += std::string(" (answered ") + common::answer_name(answer) + ")";
  note(std::move(line));
  return answer;
}

std::optional<std::string> RunDialogs::input(std::string_view prompt, std::string_view title,
                                             std::string_view default_text) {
  if (!unattended()) return person_.input(prompt, title, default_text);
  note("Question: " + std::string(prompt) + " (cancelled: nobody to answer)");
  return std::nullopt;
}

std::optional<std::filesystem::path> RunDialogs::save_file(std::string_view title,
                                                           const std::filesystem::path& suggested,
                                                           std::string_view types) {
  if (!unattended()) return person_.save_file(title, suggested, types);
  note("File choice: " + std::string(title) + " (cancelled: nobody to answer)");
  return std::nullopt;
}

} // namespace kestrova::app
