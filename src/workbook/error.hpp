#pragma once

#include <optional>
#include <string>

namespace kestrova::workbook {

// An error passed to the caller that shows it: a number (an errno value for system errors)
// and a description.
struct Error {
  long number = 0;
  std::string description;
};

// std::nullopt on success.
using Status = std::optional<Error>;

// The error of a failed system call from its errno value, naming the file it concerns.
Error system_error(int errno_value, const std::string& what);

} // namespace kestrova::workbook
