#pragma once

#include "common/dialogs.hpp"

namespace kestrova::ui {

// Message and input boxes as Qt modal dialogs over the active window.
class QtDialogs final : public common::Dialogs {
public:
  common::Answer message(std::string_view text, common::Buttons buttons, common::Icon icon,
                         std::string_view title) override;
  std::optional<std::string> input(std::string_view prompt, std::string_view title,
                                   std::string_view default_text) override;
  std::optional<std::filesystem::path> save_file(std::string_view title,
                                                 const std::filesystem::path& suggested,
                                                 std::string_view types) override;
};

} // namespace kestrova::ui
