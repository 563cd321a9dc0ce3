#include "support/run_command.hpp"

#include <cstdio>
#include <sys/wait.h>

namespace kestrova::testing {

CommandRun run_command(const std::string& command) {
  CommandRun r;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return r;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    r.output.append(buffer, n);
  const int status = ::pclose(pipe);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

} // namespace kestrova::testing
