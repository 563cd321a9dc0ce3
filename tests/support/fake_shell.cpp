#include "support/fake_shell.hpp"

namespace kestrova::testing {

bool FakeShell::open(const std::filesystem::path& t) {
  calls.push_back("open " + t.string());
  return result;
}
bool FakeShell::reveal(const std::filesystem::path& f) {
  calls.push_back("reveal " + f.string());
  return result;
}
bool FakeShell::relaunch(const std::vector<std::string>& args) {
  std::string s = "relaunch";
  for (const auto& a : args)
    s += " " + a;
  calls.push_back(s);
  return result;
}
bool FakeShell::open_url(std::string_view url) {
  calls.push_back("url " + std::string(url));
  return result;
}

} // namespace kestrova::testing
