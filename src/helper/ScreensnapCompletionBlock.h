#pragma once
// How every capture reports its result: exactly one call, on the main thread.
//   success           an image was captured
//   image             the image at full pixel resolution, lent for the call (null on failure, and
//                     for a rectangle the display server returned no image of)
//   isHighResolution  the image has more pixels than points: halve the pixel size to report it
//   title             a document title, or nullopt
//   error             why it failed; null on success, on a cancel and on a failed full-screen capture

#include "NSError.h"

#include <QImage>
#include <QString>

#include <functional>
#include <optional>

using ScreensnapCompletionBlock =
    std::function<void(bool success, const QImage& image, bool isHighResolution,
                       const std::optional<QString>& title, const glimra::NSError* error)>;
