#include "stderr_dialogs.hpp"

#include <iostream>

namespace kestrova::tools {

common::Answer StderrDialogs::message(std::string_view text, common::Buttons buttons,
                                      common::Icon /*icon*/, std::string_view /*title*/) {
  std::cerr << "kestrova-report: " << text << '\n';
  switch (buttons) {
  case common::Buttons::Ok:
    return common::Answer::Ok;
  case common::Buttons::YesNo:
    return common::Answer::No;
  case common::Buttons::OkCancel:
  case common::Buttons::YesNoCancel:
    return common::Answer::Cancel;
  }
  return common::Answer::Cancel;
}

std::optional<std::string> StderrDialogs::input(std::string_view prompt, std::string_view,
                                                std::string_view) {
  std::cerr << "kestrova-report: " << prompt << " (no answer: not interactive)\n";
  return std::nullopt;
}

} // namespace kestrova::tools
