#include "app/command_line.hpp"

#include <charconv>

namespace kestrova::app {

namespace {

std::string_view trim_blanks(std::string_view s) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

} // namespace

bool is_autorun_switch(std::string_view text) {
  const std::string_view t = trim_blanks(text);
  return t == "/run" || t == "/RUN" || t == "/Run";
}

CommandLine parse_command_line(const std::vector<std::string>& arguments) {
  CommandLine result;
  std::string rest;
  constexpr std::string_view kDataDirEq = "--data-dir=";
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    if (a == "--run") {
      result.autorun = true;
    } else if (a == "--help" || a == "-h") {
      result.help = true;
    } else if (a == "--version") {
      result.version = true;
    } else if (a == "--exit-when-complete") {
      result.exit_when_complete = true;
    } else if (a == "--relaunched") {
      int n = 0;
      const std::string value = i + 1 < arguments.size() ? arguments[i + 1] : std::string();
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
      if (value.empty() || ec != std::errc() || end != value.data() + value.size() || n < 1) {
        result.error = "--relaunched needs a count of 1 or more";
      } else {
        result.relaunched = n;
        ++i;
      }
    } else if (a == "--data-dir") {
      if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
        result.error = "--data-dir needs a folder";
      } else {
        result.data_dir = arguments[++i];
      }
    } else if (a.starts_with(kDataDirEq)) {
      if (a.size() == kDataDirEq.size()) {
        result.error = "--data-dir needs a folder";
      } else {
        result.data_dir = a.substr(kDataDirEq.size());
      }
    } else {
      if (!rest.empty()) rest += ' ';
      rest += a;
    }
  }
  if (is_autorun_switch(rest)) result.autorun = true;
  return result;
}

std::string usage_text(std::string_view program) {
  std::string text = "Usage: ";
  text += program;
  text += " [--data-dir DIR] [--run | /run] [--exit-when-complete] [--help] [--version]\n"
          "\n"
          "  --data-dir DIR  data folder (config.dat, plate formats, projects);\n"
          "                  default $KESTROVA_HOME, else ~/Kestrova\n"
          "  --run, /run     connect to the instrument and start an acquisition of the\n"
          "                  latest project without questions\n"
          "  --exit-when-complete\n"
          "                  with --run: ask nothing; once the acquisition has completed\n"
          "                  (and its automatic report is written, when the report\n"
          "                  settings ask for one), end with status 0; when anything ends\n"
          "                  it sooner (no start, a stop, a lost instrument, a failed\n"
          "                  report), end with a non-zero status and the reason on stderr\n"
          "  --relaunched N  (set by the program when it relaunches itself after losing\n"
          "                  the instrument: the N-th relaunch in a row; with --run it\n"
          "                  waits for the instrument instead of asking)\n"
          "  --help          show this text\n"
          "  --version       show the version\n";
  return text;
}

} // namespace kestrova::app
