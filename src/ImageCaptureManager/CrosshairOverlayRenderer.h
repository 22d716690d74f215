#pragma once
// The overlay's picture: what one frame shows (made from the view's draw state and the pointer),
// which parts of the overlay differ between two frames, and the painting of any part of a frame.
// Everything here is in overlay coordinates (points, origin top-left of the bounding box of all
// screens, y down); the y-up draw state is turned into them once, in makeOverlayFrame.

#include "CrosshairOverlayContract.h"

#include <QImage>
#include <QLocale>
#include <QRectF>
#include <QRegion>
#include <QString>

#include <array>
#include <map>
#include <tuple>
#include <vector>

class QPainter;

// One frame of the overlay, ready to paint.
struct OverlayFrame {
    QSizeF bounds;
    QRectF hole; // the undimmed selection; empty for none
    bool lines = false;
    QPointF crossing; // where the crosshair lines cross: each line is one point wide, centred on it
    bool badge = false;
    QRectF badgeRect;
    // Near a screen's right or bottom edge the badge goes to the other side of the pointer (drawn
    // mirrored, its numbers upright), so that it stays whole on the screen.
    bool badgeLeft = false, badgeAbove = false;
    uint64_t topNumber = 0, bottomNumber = 0;
    bool handles = false;
    std::array<QRectF, 4> handleRects;
    QImage timerImage;
    QRectF timerRect;
    // A one-point frame just outside the hole, for a countdown that shows the live desktop around it.
    bool outline = false;
    // Nothing of the desktop's picture or its dimming: clear but for the outline and the digit (a
    // countdown over the live desktop, where the window cannot be cut to them).
    bool bare = false;

    bool operator==(const OverlayFrame& other) const;
};

// The crosshair's lines as two one-point strips across the whole overlay: vertical, then horizontal.
std::array<QRectF, 2> crosshairLineRects(const OverlayFrame& frame);
// Where the badge's numbers go, from the badge's top-left corner: mirrored with the badge.
QRectF badgeNumbersBox(const OverlayFrame& frame);
// The four strips of the outline, around the hole.
std::array<QRectF, 4> outlineRects(const QRectF& hole);

// The frame for a draw state and the pointer, both in the view's y-up coordinates. The pointer is
// truncated the way the crosshair's lines sit on whole points: its x to floor(x) - 0.5 and its y to
// floor(y) + 1.5, in single precision. badgeSize is the size of the badge image in points;
// outlineHole asks for the outline in the countdown. screens (overlay coordinates) are where the
// badge must stay whole: the one the pointer is on, or the whole overlay when none (or none is given).
OverlayFrame makeOverlayFrame(const OverlayDrawState& state, CGPoint pointer, CGSize bounds, QSizeF badgeSize,
                              bool outlineHole, const std::vector<QRectF>& screens = {});

// Where two frames may differ: the line strips, the badges, what lies between the two holes, the
// handles, the countdown digits and outlines of either frame. Rectangles in overlay coordinates,
// not necessarily disjoint; empty when the frames paint the same pixels.
std::vector<QRectF> overlayFrameDamage(const OverlayFrame& before, const OverlayFrame& after);

// Parts of a minus b (at most four), exact.
std::vector<QRectF> subtractRect(const QRectF& a, const QRectF& b);

// Paints frames. The badge and handle images come from the images folder, at the scale asked for.
class CrosshairOverlayRenderer {
public:
    explicit CrosshairOverlayRenderer(QString imagesDir);

    // The badge image's size in points (0 x 0 when it is missing).
    QSizeF badgeSize() const;

    // Paints the frame inside each of rects (overlay coordinates) of a window whose top-left corner
    // lies at origin (overlay coordinates) and whose pixels have scale devicePixelRatio. backdrop,
    // when not null, is what the overlay covers (the window's native pixels); without it the frame
    // is painted translucent over whatever the painter's device holds there, which it replaces.
    void paint(QPainter& painter, const OverlayFrame& frame, QPointF origin, qreal devicePixelRatio,
               const QImage& backdrop, const std::vector<QRectF>& rects);

private:
    const QImage& image(const QString& name, qreal devicePixelRatio, bool mirroredHorizontally = false,
                        bool mirroredVertically = false);
    void paintRect(QPainter& p, const OverlayFrame& frame, const QRectF& r, qreal scale,
                   const QImage& backdrop, QPointF origin);

    QString imagesDir_;
    std::map<std::tuple<QString, int, bool, bool>, QImage> images_;
    QLocale locale_;
};
