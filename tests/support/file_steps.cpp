#include "support/file_steps.hpp"

#include <sys/wait.h>
#include <unistd.h>

namespace kestrova::testing {

namespace {

constexpr int kKilledStatus = 86;

std::string step_text(common::FileStep step, const std::filesystem::path& file) {
  static constexpr const char* kNames[] = {"Create", "Write", "Sync", "Rename", "Remove"};
  return std::string(kNames[static_cast<int>(step)]) + " " + file.filename().string();
}

} // namespace

std::vector<std::string> file_steps_of(const std::function<void()>& work) {
  std::vector<std::string> steps;
  common::FileStepHook hook([&](common::FileStep step, const std::filesystem::path& file) {
    steps.push_back(step_text(step, file));
    return true;
  });
  work();
  return steps;
}

bool kill_at_file_step(int step, const std::function<void()>& work) {
  const pid_t child = ::fork();
  if (child == 0) {
    int taken = 0;
    common::FileStepHook hook([&](common::FileStep, const std::filesystem::path&) {
      if (++taken == step) ::_exit(kKilledStatus);
      return true;
    });
    work();
    ::_exit(0);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == kKilledStatus;
}

} // namespace kestrova::testing
