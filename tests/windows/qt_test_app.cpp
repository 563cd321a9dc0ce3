#include "qt_test_app.hpp"

#include <QApplication>
#include <cstdlib>

namespace kestrova::testing {

void ensure_qt_application() {
  if (QApplication::instance() != nullptr) return;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "kestrova_tests";
  static char* argv[] = {name, nullptr};
  // Never destroyed: Qt's own statics may outlive it at process exit.
  new QApplication(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
}

} // namespace kestrova::testing

// Font configuration keeps caches for the life of the process; the leak checker of a
// sanitised build should not count them against the windows under test.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
