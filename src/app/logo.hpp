#pragma once

#include <QPixmap>

namespace kestrova::app {

// The program's logo: a microplate with its grid of beams, drawn at `size` pixels square.
QPixmap kestrova_logo(int size);

} // namespace kestrova::app
