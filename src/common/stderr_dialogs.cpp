#include "common/stderr_dialogs.hpp"

#include <iostream>

namespace kestrova::common {

Answer StderrDialogs::message(std::string_view text, Buttons buttons, Icon /*icon*/,
                              std::string_view /*title*/) {
  ++shown_;
  if (!quiet_) std::cerr << prefix_ << text << '\n';
  return unattended_answer(buttons);
}

std::optional<std::string> StderrDialogs::input(std::string_view prompt, std::string_view,
                                                std::string_view) {
  ++shown_;
  if (!quiet_) std::cerr << prefix_ << prompt << " (no answer: not interactive)\n";
  return std::nullopt;
}

std::optional<std::filesystem::path>
StderrDialogs::save_file(std::string_view title, const std::filesystem::path&, std::string_view) {
  ++shown_;
  if (!quiet_) std::cerr << prefix_ << title << " (no answer: not interactive)\n";
  return std::nullopt;
}

} // namespace kestrova::common
