#pragma once
// The Glimra glyph: a viewfinder (four corner brackets) around a small lens, as one filled shape. The
// status item wears it alone, the application icon on a plate.

#include <QPainterPath>
#include <QPointF>
#include <QRect>

#include <algorithm>
#include <cmath>

namespace glimra::artwork {

// The size the glyph is designed at; every other size is laid out from it.
inline constexpr int kViewfinderDesignSize = 22;

// designUnits at scale, rounded to whole pixels and at least minimum.
inline int snapToPixels(double designUnits, double scale, int minimum = 0) {
    return std::max(minimum, int(std::lround(designUnits * scale)));
}

// The glyph for a square of size x size pixels at the origin. The shapes are laid out on the pixel
// grid of every size separately, so straight edges stay sharp where a scaled drawing would smear them
// across two pixels.
inline QPainterPath viewfinderGlyph(int size) {
    const double s = double(size) / kViewfinderDesignSize;
    const int margin = snapToPixels(3, s, 1);
    const int stroke = snapToPixels(2, s, 1);
    const int arm = snapToPixels(5, s, stroke + 2);
    const int far = size - margin;

    QPainterPath path;
    // The two arms of a bracket overlap in its corner: winding keeps that square filled.
    path.setFillRule(Qt::WindingFill);
    const auto bracket = [&](int x, int y, int dx, int dy) {
        // (x, y) is the outer corner; dx, dy point inwards.
        path.addRect(QRect(dx > 0 ? x : x - arm, dy > 0 ? y : y - stroke, arm, stroke));
        path.addRect(QRect(dx > 0 ? x : x - stroke, dy > 0 ? y : y - arm, stroke, arm));
    };
    bracket(margin, margin, 1, 1);
    bracket(far, margin, -1, 1);
    bracket(margin, far, 1, -1);
    bracket(far, far, -1, -1);

    const QPointF centre(size / 2.0, size / 2.0);
    QPainterPath lens;
    if (size < 20) {
        // Too small for a pupil: a plain ring reads better than a grey blob.
        lens.addEllipse(centre, 3.0, 3.0);
        QPainterPath hole;
        hole.addEllipse(centre, 1.5, 1.5);
        lens = lens.subtracted(hole);
    } else {
        const double outer = 4.0 * s;
        lens.addEllipse(centre, outer, outer);
        QPainterPath hole;
        hole.addEllipse(centre, outer - 1.75 * s, outer - 1.75 * s);
        QPainterPath pupil;
        pupil.addEllipse(centre, s, s);
        lens = lens.subtracted(hole).united(pupil);
    }
    return path.simplified().united(lens);
}

} // namespace glimra::artwork
