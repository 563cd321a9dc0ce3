#pragma once

#include <string>

namespace kestrova::app {

// The maker's web site, opened by double-clicking the logo or the maker line.
inline constexpr const char* kMakerWebSite = "https://www.kestrova.example";
inline constexpr const char* kMakerLine = "Kestrova Instruments";

// The version banner shown by the start screen and the About window.
std::string version_banner();

} // namespace kestrova::app
