#pragma once

#include <string>

#include "common/dialogs.hpp"

namespace kestrova::common {

// Dialogs for code that runs without a display (command-line tools, the fuzzers): every message
// goes to stderr after `prefix`, or nowhere when quiet. Nobody is there to answer, so a
// question takes its cautious answer (Cancel, or No when there is no Cancel), and an input box
// or a file choice is cancelled.
class StderrDialogs final : public Dialogs {
public:
  explicit StderrDialogs(std::string prefix = {}, bool quiet = false)
      : prefix_(std::move(prefix)), quiet_(quiet) {}

  Answer message(std::string_view text, Buttons buttons, Icon icon,
                 std::string_view title) override;
  std::optional<std::string> input(std::string_view prompt, std::string_view title,
                                   std::string_view default_text) override;
  std::optional<std::filesystem::path> save_file(std::string_view title,
                                                 const std::filesystem::path& suggested,
                                                 std::string_view types) override;

  // How many messages and input boxes were shown.
  int shown() const { return shown_; }

private:
  std::string prefix_;
  bool quiet_;
  int shown_ = 0;
};

} // namespace kestrova::common
