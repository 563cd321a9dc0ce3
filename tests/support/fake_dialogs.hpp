#pragma once

#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/dialogs.hpp"

namespace kestrova::testing {

// A Dialogs fake: answers come from scripts, every box shown is kept in a transcript.
// With an empty script a message box answers its first button (Ok or Yes) and an
// input box answers with its default text.
class FakeDialogs final : public common::Dialogs {
public:
  struct Shown {
    enum class Kind { Message, Input, SaveFile } kind = Kind::Message;
    std::string text; // the message or the prompt
    std::string title;
    common::Buttons buttons = common::Buttons::Ok;
    common::Icon icon = common::Icon::None;
    std::string default_text; // for a file choice: the file proposed
    std::string types;        // for a file choice: the types offered
  };

  common::Answer message(std::string_view text, common::Buttons buttons, common::Icon icon,
                         std::string_view title) override;
  std::optional<std::string> input(std::string_view prompt, std::string_view title,
                                   std::string_view default_text) override;
  std::optional<std::filesystem::path> save_file(std::string_view title,
                                                 const std::filesystem::path& suggested,
                                                 std::string_view types) override;

  void script_answer(common::Answer a) { answers_.push_back(a); }
  // Queues the answer for the next input box; std::nullopt means Cancel.
  void script_input(std::optional<std::string> a) { inputs_.push_back(std::move(a)); }
  // Queues the answer for the next file choice (std::nullopt means Cancel); unscripted, a file
  // choice answers with the file proposed.
  void script_save_file(std::optional<std::filesystem::path> a) {
    save_files_.push_back(std::move(a));
  }

  const std::vector<Shown>& transcript() const { return transcript_; }
  // Texts of the boxes shown, in order (messages and prompts alike).
  std::vector<std::string> texts() const;
  std::vector<std::string> messages() const; // message boxes only
  void clear() { transcript_.clear(); }

private:
  std::deque<common::Answer> answers_;
  std::deque<std::optional<std::string>> inputs_;
  std::deque<std::optional<std::filesystem::path>> save_files_;
  std::vector<Shown> transcript_;
};

} // namespace kestrova::testing
