#pragma once
// The three coordinate spaces of a capture, and the one place where Qt's y-down coordinates turn
// into them.
//
//  - Qt global coordinates: device-independent pixels, y down, origin wherever the primary screen's
//    top-left lies in the virtual desktop.
//  - Global display coordinates: points, y down, origin at the main (primary) screen's top-left.
//  - Screen coordinates: points, y UP, origin at the main screen's bottom-left; mouse locations and
//    screen frames are given in them.

#include <QPointF>
#include <QRectF>

namespace glimra {

struct ScreenSpace {
    // The primary screen's geometry in Qt global coordinates.
    QRectF primary;

    QPointF displayPointFromQt(QPointF qt) const { return qt - primary.topLeft(); }
    QRectF displayRectFromQt(const QRectF& qt) const { return qt.translated(-primary.topLeft()); }

    // y flips about the main screen's height.
    QPointF screenPointFromQt(QPointF qt) const {
        const QPointF d = displayPointFromQt(qt);
        return {d.x(), primary.height() - d.y()};
    }
    QRectF screenFrameFromQt(const QRectF& qt) const {
        const QRectF d = displayRectFromQt(qt);
        return {d.x(), primary.height() - d.y() - d.height(), d.width(), d.height()};
    }
    // The way back: a screen frame (y up) in Qt global coordinates.
    QRectF qtRectFromScreenFrame(const QRectF& screen) const {
        return {primary.left() + screen.x(), primary.top() + primary.height() - screen.y() - screen.height(),
                screen.width(), screen.height()};
    }
};

// A screen point in global display coordinates, flipped about a screen height h: (x, h - y).
inline QPointF displayPointFromScreenPoint(QPointF screenPoint, double mainScreenHeight) {
    return {screenPoint.x(), mainScreenHeight - screenPoint.y()};
}

// Whether a screen frame (y up) holds p: the left and bottom edges belong to the frame, the right
// and top edges to whatever lies beyond them.
inline bool screenFrameContainsPoint(const QRectF& frame, QPointF p) {
    return p.x() >= frame.left() && p.x() < frame.left() + frame.width() && p.y() >= frame.top() &&
           p.y() < frame.top() + frame.height();
}

// Whether a rectangle in global display coordinates (y down) holds p: minimum edges inside, maximum
// edges outside.
inline bool displayRectContainsPoint(const QRectF& rect, QPointF p) {
    return rect.width() > 0 && rect.height() > 0 && p.x() >= rect.left() &&
           p.x() < rect.left() + rect.width() && p.y() >= rect.top() && p.y() < rect.top() + rect.height();
}

} // namespace glimra
