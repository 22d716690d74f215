#pragma once
// Arithmetic between the two coordinate systems of a grab, kept free of X so it can be checked alone.
//
// Points: Qt's device-independent pixels, shifted so that the primary screen's top-left corner is
// (0, 0) ("global display coordinates"; y grows downwards, screens left of or above the primary are
// negative). Native: pixels of the X root window. Qt keeps a screen's top-left corner where it is in
// native pixels and divides only its size by the scale, so the mapping is per screen and screens of
// different scales may leave gaps between them in points.

#include <QRect>
#include <QRectF>
#include <QString>

#include <optional>
#include <vector>

namespace glimra {

struct ScreenGeometry {
    QString name;
    QRectF points; // global display coordinates
    QRect native;  // root window pixels
    qreal scale = 1.0;
    bool primary = false;

    bool operator==(const ScreenGeometry&) const = default;
};

// The native pixels that show rect (in points) on screen, edges rounded to the nearest pixel.
QRect nativeRectForPoints(const QRectF& rect, const ScreenGeometry& screen);

// The screen showing most of a native rectangle (the nearest one when it shows on none); null when
// there are no screens.
const ScreenGeometry* screenForNativeRect(const QRect& native, const std::vector<ScreenGeometry>& screens);

// A native rectangle in points, measured with the scale of the screen that shows most of it.
QRectF pointsRectForNative(const QRect& native, const std::vector<ScreenGeometry>& screens);

// Cuts each screen down to the part the root window really has, so grabs never read outside it.
std::vector<ScreenGeometry> clippedToRoot(std::vector<ScreenGeometry> screens, const QRect& root);

// The bounding box of all screens in points; empty without screens.
QRectF boundingRectInPoints(const std::vector<ScreenGeometry>& screens);

// How to assemble an image: copy each source rectangle (native pixels) into the target rectangle
// (pixels of the image), scaling it when the sizes differ. Whatever no piece covers is black.
struct GrabPiece {
    QRect source;
    QRect target;
};
struct GrabPlan {
    QSize size;
    std::vector<GrabPiece> pieces;
    // Pixels of the image per point: the finest scale a rectangle in points touches; for a native
    // rectangle, the scale of the screen that shows most of it.
    qreal scale = 1.0;
};

// Largest image a grab may produce; bigger requests are refused rather than risking gigabytes.
inline constexpr int kMaxGrabSide = 32768;
inline constexpr qint64 kMaxGrabBytes = qint64(1) << 30;

// A rectangle in points, imaged at the highest scale of the screens it touches. nullopt (with the
// reason in *whyNot) for an empty, non-finite or oversized rectangle.
std::optional<GrabPlan> planGrabOfPoints(const QRectF& rect, const std::vector<ScreenGeometry>& screens,
                                         QString* whyNot = nullptr);

// A native rectangle imaged pixel for pixel; the parts outside every screen stay black.
std::optional<GrabPlan> planGrabOfNative(const QRect& rect, const std::vector<ScreenGeometry>& screens,
                                         QString* whyNot = nullptr);

} // namespace glimra
