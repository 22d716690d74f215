#pragma once
// Named images from a resources folder: NAME.png at 1x, NAME@2x.png (and @3x ...) for
// high-resolution screens, NAME-<pixels>.png for further sizes a tray host may ask for.

#include <QIcon>
#include <QImage>
#include <QString>

namespace glimra {

// An icon holding every variant of name found in resourcesDir; a null icon (with a log line) when there
// is none. Files that are not readable images are skipped with a log line.
QIcon loadNamedImage(const QString& resourcesDir, const QString& name);

// The variant of name drawn for a screen of that device pixel ratio (NAME@2x.png for 2, NAME.png for
// 1; the nearest finer one, else the finest there is, for other ratios), with its own ratio set so
// that it paints at its size in points. Null (with a log line) when there is none.
QImage loadNamedImageForScale(const QString& resourcesDir, const QString& name, qreal devicePixelRatio);

// The pixel size of a PNG file from its header; empty when it is not one.
QSize pngFileSize(const QString& path);

} // namespace glimra
