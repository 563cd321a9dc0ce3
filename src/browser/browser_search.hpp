#pragma once

// Search in the experiment list: the terms of a search text and the lines they select.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "browser/browser_list.hpp"

namespace kestrova::browser {

inline constexpr std::size_t kMaxSearchTerms = 10;

// The terms of a search text. A space outside double quotes starts a new term; a double quote
// opens or closes a quoted part, and closing one starts a new term; quotes are never part of a
// term and spaces only inside quotes. From the tenth term on, the rest of the text goes into
// it. Empty terms are left out.
std::vector<std::string> SplitSearchTerms(std::string_view text);

// ASCII lower case (bytes of other characters unchanged).
std::string Lowercase(std::string_view text);

// Which lines a search selects: a line is selected when it matches every term. A line matches a
// term when its text holds it, without regard to case; a project line also matches when one of
// the project's acquisitions on disk (listed or not under it) would give a line, without its
// tags, that holds it.
std::vector<bool> SearchSelection(const std::filesystem::path& program_folder,
                                  const std::vector<ListLine>& lines,
                                  const std::vector<std::string>& terms);

} // namespace kestrova::browser
