#include "app/version.hpp"

#ifndef KESTROVA_VERSION
#define KESTROVA_VERSION "0.0.0"
#endif

namespace kestrova::app {

std::string version_banner() { return std::string("Version ") + KESTROVA_VERSION; }

} // namespace kestrova::app
