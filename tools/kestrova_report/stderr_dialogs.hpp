#pragma once

#include "common/dialogs.hpp"

namespace kestrova::tools {

// Dialogs for a program without a display: every message goes to stderr. Nobody is there to
// answer, so a question takes its cautious answer (Cancel, or No when there is no Cancel) and
// an input box is cancelled.
class StderrDialogs final : public common::Dialogs {
public:
  common::Answer message(std::string_view text, common::Buttons buttons, common::Icon icon,
                         std::string_view title) override;
  std::optional<std::string> input(std::string_view prompt, std::string_view title,
                                   std::string_view default_text) override;
};

} // namespace kestrova::tools
