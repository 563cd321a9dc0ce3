#include "support/fake_dialogs.hpp"

namespace kestrova::testing {

using common::Answer;
using common::Buttons;

common::Answer FakeDialogs::message(std::string_view text, Buttons buttons, common::Icon icon,
                                    std::string_view title) {
  transcript_.push_back(
      {Shown::Kind::Message, std::string(text), std::string(title), buttons, icon, {}, {}});
  if (!answers_.empty()) {
    const Answer a = answers_.front();
    answers_.pop_front();
    return a;
  }
  return (buttons == Buttons::YesNo || buttons == Buttons::YesNoCancel) ? Answer::Yes : Answer::Ok;
}

std::optional<std::string> FakeDialogs::input(std::string_view prompt, std::string_view title,
                                              std::string_view default_text) {
  transcript_.push_back({Shown::Kind::Input,
                         std::string(prompt),
                         std::string(title),
                         Buttons::OkCancel,
                         common::Icon::None,
                         std::string(default_text),
                         {}});
  if (!inputs_.empty()) {
    auto a = inputs_.front();
    inputs_.pop_front();
    return a;
  }
  return std::string(default_text);
}

std::optional<std::filesystem::path> FakeDialogs::save_file(std::string_view title,
                                                            const std::filesystem::path& suggested,
                                                            std::string_view types) {
  transcript_.push_back({Shown::Kind::SaveFile, std::string(title), std::string(title),
                         Buttons::OkCancel, common::Icon::None, suggested.string(),
                         std::string(types)});
  if (!save_files_.empty()) {
    auto a = save_files_.front();
    save_files_.pop_front();
    return a;
  }
  return suggested;
}

std::vector<std::string> FakeDialogs::texts() const {
  std::vector<std::string> out;
  for (const auto& s : transcript_)
    out.push_back(s.text);
  return out;
}

std::vector<std::string> FakeDialogs::messages() const {
  std::vector<std::string> out;
  for (const auto& s : transcript_)
    if (s.kind == Shown::Kind::Message) out.push_back(s.text);
  return out;
}

} // namespace kestrova::testing
