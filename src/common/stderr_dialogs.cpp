#include "common/stderr_dialogs.hpp"

#include <iostream>

namespace kestrova::common {

Answer StderrDialogs::message(std::string_view text, Buttons buttons, Icon /*icon*/,
                              std::string_view /*title*/) {
  ++shown_;
  if (!quiet_) std::cerr << prefix_ << text << '\n';
  switch (buttons) {
  case Buttons::Ok:
    return Answer::Ok;
  case Buttons::YesNo:
    return Answer::No;
  case Buttons::OkCancel:
  case Buttons::YesNoCancel:
    return Answer::Cancel;
  }
  return Answer::Cancel;
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
