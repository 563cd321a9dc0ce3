#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/safe_file.hpp"

namespace kestrova::testing {

// The steps of the file layer that `work` takes, in order ("Rename counts.bin", ...).
std::vector<std::string> file_steps_of(const std::function<void()>& work);

// Runs `work` in a child process that ends at once (as a kill would: no clean-up, no flush) right
// before its file step number `step` (from 1). True when the child was ended there, false when
// the work finished first.
bool kill_at_file_step(int step, const std::function<void()>& work);

} // namespace kestrova::testing
