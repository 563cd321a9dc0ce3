#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova::common {

enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
enum class Icon { None, Information, Warning, Error, Question };
enum class Answer { Ok, Cancel, Yes, No };

// The answer a box gets when nobody is there to answer it: Ok for a plain message, otherwise
// the answer that changes nothing (Cancel; No where there is no Cancel).
constexpr Answer unattended_answer(Buttons buttons) {
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

// The button's caption: "OK", "Cancel", "Yes", "No".
constexpr const char* answer_name(Answer answer) {
  switch (answer) {
  case Answer::Ok:
    return "OK";
  case Answer::Cancel:
    return "Cancel";
  case Answer::Yes:
    return "Yes";
  case Answer::No:
    return "No";
  }
  return "";
}

// Modal message and input boxes. Core code shows every operator message through this
// interface; the windows implement it with Qt, the tests with a scripted fake.
class Dialogs {
public:
  virtual ~Dialogs() = default;

  // Shows `text` with the given buttons and icon; returns the button pressed.
  // An empty title means the program's name.
  virtual Answer message(std::string_view text, Buttons buttons = Buttons::Ok,
                         Icon icon = Icon::None, std::string_view title = {}) = 0;

  // Asks for one line of text. std::nullopt when the operator cancels.
  virtual std::optional<std::string> input(std::string_view prompt, std::string_view title = {},
                                           std::string_view default_text = {}) = 0;

  // Asks where to save a file, proposing `suggested`; `types` lists the file types offered as
  // "BMP picture (*.bmp);;PNG picture (*.png)". std::nullopt when the operator cancels, and
  // always where there is no file dialog to show.
  virtual std::optional<std::filesystem::path> save_file(std::string_view title,
                                                         const std::filesystem::path& suggested,
                                                         std::string_view types) {
    (void)title;
    (void)suggested;
    (void)types;
    return std::nullopt;
  }
};

} // namespace kestrova::common
