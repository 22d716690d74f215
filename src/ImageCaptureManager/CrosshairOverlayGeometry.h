#pragma once
// Where the crosshair overlay lies and the one place where its coordinate spaces meet:
//  - global display coordinates: points, y down, origin at the main screen's top-left (grabs, Qt
//    positions less the primary screen's origin);
//  - overlay coordinates: the same points, origin at the top-left corner of the bounding box of all
//    screens (what the drawing works in);
//  - view coordinates: origin at that box's bottom-left corner, y UP (what the selection logic works
//    in, CrosshairOverlayContract.h);
//  - screen coordinates: y up, origin at the main screen's bottom-left;
//  - native pixels of the X root window, where events and windows really are.
//
// The overlay is made of parts, one window each. One part covers the whole bounding box (also what
// lies on no screen) when the desktop has one screen or every screen shows one pixel per point, and
// one window may span screens; otherwise each screen gets a part of its own, drawn at its own scale. (Qt lays
// screens of other scales out in points with their native top-left corners kept, so one window cannot span
// them.)

#include "CGGeometry.h"
#include "display/DisplayGeometry.h"

#include <QPointF>
#include <QRectF>

#include <vector>

struct CrosshairOverlayPart {
    QRectF points; // global display coordinates
    QRect native;  // root pixels
    qreal scale = 1;
    QString screenName; // the screen the part's window belongs to
};

class CrosshairOverlayGeometry {
public:
    CrosshairOverlayGeometry() = default;
    // windowsSpanScreens false: every screen gets a part of its own, whatever its scale (a display
    // server that puts a window on one screen only). layoutInPoints: the display server lays its screens
    // out in points, so a position beyond a window's edge is in points too (Wayland), rather than in
    // native pixels of the window's own scale (X11).
    explicit CrosshairOverlayGeometry(std::vector<glimra::ScreenGeometry> screens,
                                      bool windowsSpanScreens = true, bool layoutInPoints = false);

    const std::vector<CrosshairOverlayPart>& parts() const { return parts_; }
    const std::vector<glimra::ScreenGeometry>& screens() const { return screens_; }
    // The bounding box of all screens in global display coordinates.
    const QRectF& bounds() const { return bounds_; }
    CGPoint displayOffset() const { return {bounds_.left(), bounds_.top()}; }
    CGSize boundsSize() const { return {bounds_.width(), bounds_.height()}; }

    // A part in overlay coordinates.
    QRectF partRect(std::size_t part) const { return parts_[part].points.translated(-bounds_.topLeft()); }

    CGPoint viewPointFromDisplay(QPointF display) const {
        return {display.x() - bounds_.left(), bounds_.bottom() - display.y()};
    }
    QPointF displayPointFromView(CGPoint view) const {
        return {view.x + bounds_.left(), bounds_.bottom() - view.y};
    }
    // Screen coordinates flip about the main screen's height.
    CGPoint screenPointFromView(CGPoint view) const;
    CGPoint viewPointFromScreen(CGPoint screen) const;

    // A y-up view rectangle in overlay coordinates, made positive (a drag up or left has a negative size).
    QRectF overlayRectFromView(const CGRect& view) const;

    // A position in a part's window (Qt's points of that window, relative to its top-left corner) in
    // global display coordinates. During a drag the pointer may have left the window for another
    // screen: where the layout is in native pixels, the position is taken to them with the window's own
    // scale and back with the scale of the screen it lies on.
    QPointF displayPointFromPartLocal(std::size_t part, QPointF local) const;
    // A root pixel position in global display coordinates.
    QPointF displayPointFromNative(QPointF native) const;
    // A rectangle in overlay coordinates as native pixels of a part's window, edges rounded outwards.
    QRect partNativeRectFromOverlay(std::size_t part, const QRectF& overlay) const;

private:
    std::vector<glimra::ScreenGeometry> screens_;
    bool layoutInPoints_ = false;
    std::vector<CrosshairOverlayPart> parts_;
    QRectF bounds_;
    double mainScreenHeight_ = 0;
};
