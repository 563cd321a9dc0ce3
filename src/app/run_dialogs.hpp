#pragma once

#include <deque>
#include <functional>
#include <string>

#include "common/dialogs.hpp"

namespace kestrova::app {

// The dialogs of the program's core. A person answers them, except while the run is
// unattended (an autorun that ends by itself, or a relaunched instance): then nobody is there,
// so no box is shown; each text is noted (the acquisition log, the reason the run ended) and a
// message takes its cautious answer (Ok; Cancel; No when there is no Cancel), an input box or a
// file choice is cancelled.
class RunDialogs final : public common::Dialogs {
public:
  // `unattended()` is asked at each box.
  RunDialogs(common::Dialogs& person, std::function<bool()> unattended)
      : person_(person), unattended_(std::move(unattended)) {}

  common::Answer message(std::string_view text, common::Buttons buttons, common::Icon icon,
                         std::string_view title) override;
  std::optional<std::string> input(std::string_view prompt, std::string_view title,
                                   std::string_view default_text) override;
  std::optional<std::filesystem::path> save_file(std::string_view title,
                                                 const std::filesystem::path& suggested,
                                                 std::string_view types) override;

  bool unattended() const { return unattended_ && unattended_(); }
  // Where each unattended text goes besides the list below (the acquisition log).
  void set_note(std::function<void(const std::string&)> note) { note_ = std::move(note); }
  // The texts answered without a person, oldest first (the last kNotesKept).
  const std::deque<std::string>& noted() const { return noted_; }
  static constexpr std::size_t kNotesKept = 64;

private:
  void note(std::string text);

  common::Dialogs& person_;
  std::function<bool()> unattended_;
  std::function<void(const std::string&)> note_;
  std::deque<std::string> noted_;
};

} // namespace kestrova::app
