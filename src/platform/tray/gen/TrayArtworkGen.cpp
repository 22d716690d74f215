// Draws the status item's artwork: a viewfinder (four corner brackets) around a small lens.
//   HelperMenu         light glyph with a dark rim, for the item at rest
//   HelperMenuPressed  the glyph cut out of a light plate, for the item while its menu is open
// Each comes at 22 px (NAME.png), 44 px (NAME@2x.png) and the other sizes tray hosts ask for
// (NAME-16.png, NAME-24.png, NAME-32.png, NAME-48.png).
//
//   glimra_tray_artwork_gen OUTPUT_DIR
//
// The shapes are laid out on the pixel grid of every size separately, so straight edges stay sharp
// where a scaled drawing would smear them across two pixels.

#include "gen/ArtworkOutput.h"

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kDesignSize = 22;

// Light enough to read on dark panels; the dark rim carries it on light ones.
const QColor kGlyphColor(0xf4, 0xf4, 0xf4);
const QColor kRimColor(0x14, 0x14, 0x14, 0xe0);
const QColor kPlateColor(0xf0, 0xf0, 0xf0);
const QColor kCutColor(0x1c, 0x1c, 0x1c);

int snap(double designUnits, double scale, int minimum = 0) {
    return std::max(minimum, int(std::lround(designUnits * scale)));
}

// The glyph as one filled shape for an icon of size x size pixels.
QPainterPath glyph(int size) {
    const double s = double(size) / kDesignSize;
    const int margin = snap(3, s, 1);
    const int stroke = snap(2, s, 1);
    const int arm = snap(5, s, stroke + 2);
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

QImage blank(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage drawNormal(int size) {
    const double s = double(size) / kDesignSize;
    QImage image = blank(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = glyph(size);
    QPainterPathStroker rim;
    rim.setWidth(2.0 * std::max(1.0, s));
    rim.setJoinStyle(Qt::MiterJoin);
    p.fillPath(rim.createStroke(shape).united(shape), kRimColor);
    p.fillPath(shape, kGlyphColor);
    return image;
}

QImage drawPressed(int size) {
    const double s = double(size) / kDesignSize;
    QImage image = blank(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF plate(0, 0, size, size);
    const double radius = 4.0 * s;
    QPainterPath platePath;
    platePath.addRoundedRect(plate, radius, radius);
    p.fillPath(platePath, kRimColor);
    const double rimWidth = snap(1, s, 1);
    QPainterPath face;
    face.addRoundedRect(plate.adjusted(rimWidth, rimWidth, -rimWidth, -rimWidth), radius - rimWidth,
                        radius - rimWidth);
    p.fillPath(face, kPlateColor);
    p.fillPath(glyph(size), kCutColor);
    return image;
}

} // namespace

int main(int argc, char** argv) {
    int status = 0;
    const std::optional<QDir> out = glimra::artwork::outputDirectory(argc, argv, &status);
    if (!out)
        return status;
    struct Variant {
        const char* name;
        QImage (*draw)(int);
    };
    const Variant variants[] = {{"HelperMenu", drawNormal}, {"HelperMenuPressed", drawPressed}};
    bool ok = true;
    for (const Variant& v : variants) {
        const QString name = QString::fromLatin1(v.name);
        ok &= glimra::artwork::writePng(v.draw(kDesignSize), out->filePath(name + QStringLiteral(".png")));
        ok &= glimra::artwork::writePng(v.draw(2 * kDesignSize),
                                        out->filePath(name + QStringLiteral("@2x.png")));
        for (int size : {16, 24, 32, 48})
            ok &= glimra::artwork::writePng(v.draw(size),
                                            out->filePath(QStringLiteral("%1-%2.png").arg(name).arg(size)));
    }
    return ok ? 0 : 1;
}
