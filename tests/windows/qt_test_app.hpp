#pragma once

namespace kestrova::testing {

// Creates the process's QApplication on first use (offscreen in the gui test label).
void ensure_qt_application();

} // namespace kestrova::testing
