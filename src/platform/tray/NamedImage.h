#pragma once
// Named images from a bundle's resources folder: NAME.png at 1x, NAME@2x.png (and @3x ...) for
// high-resolution screens, NAME-<pixels>.png for further sizes a tray host may ask for.

#include <QIcon>
#include <QString>

namespace glimra {

// An icon holding every variant of name found in resourcesDir; a null icon (with a log line) when there
// is none. Files that are not readable images are skipped with a log line.
QIcon loadNamedImage(const QString& resourcesDir, const QString& name);

} // namespace glimra
