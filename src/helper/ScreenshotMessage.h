#pragma once
// The screenshot message and the size it reports, kept apart from delivery so both can be checked
// with plain values.

#include "xpc/Xpc.h"

#include <QByteArray>
#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>

// The size in points of an image of pixelSize: on a high-resolution screen halved (rounding down), or
// divided by the screen's scale (rounded) where the image says it was taken at another one than 2 (a
// fractional scale such as 1.5, or 3).
struct PointSize {
    uint64_t width = 0;
    uint64_t height = 0;
};
PointSize screenshotPointSize(QSize pixelSize, bool isHighResolution, qreal scale = 2.0);

// Message 8: the PNG file, the size in points and the title, never absent (empty without one).
xpc::xpc_object_t makeScreenshotMessage(QByteArray png, uint64_t width, uint64_t height,
                                        const std::optional<QString>& title);
