// Draws the status item's artwork: a viewfinder (four corner brackets) around a small lens.
//   HelperMenu         light glyph with a dark rim, for the item at rest
//   HelperMenuPressed  the glyph cut out of a light plate, for the item while its menu is open
// Each comes at 22 px (NAME.png), 44 px (NAME@2x.png) and the other sizes tray hosts ask for
// (NAME-16.png, NAME-24.png, NAME-32.png, NAME-48.png).
//
//   glimra_tray_artwork_gen OUTPUT_DIR

#include "gen/ArtworkOutput.h"
#include "gen/ViewfinderGlyph.h"

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QString>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kDesignSize = glimra::artwork::kViewfinderDesignSize;

// Light enough to read on dark panels; the dark rim carries it on light ones.
const QColor kGlyphColor(0xf4, 0xf4, 0xf4);
const QColor kRimColor(0x14, 0x14, 0x14, 0xe0);
const QColor kPlateColor(0xf0, 0xf0, 0xf0);
const QColor kCutColor(0x1c, 0x1c, 0x1c);

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
    const QPainterPath shape = glimra::artwork::viewfinderGlyph(size);
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
    const double rimWidth = glimra::artwork::snapToPixels(1, s, 1);
    QPainterPath face;
    face.addRoundedRect(plate.adjusted(rimWidth, rimWidth, -rimWidth, -rimWidth), radius - rimWidth,
                        radius - rimWidth);
    p.fillPath(face, kPlateColor);
    p.fillPath(glimra::artwork::viewfinderGlyph(size), kCutColor);
    return image;
}

} // namespace

int main(int argc, char** argv) {
    return glimra::artwork::writeArtwork(argc, argv, [](const QDir& out) {
        struct Variant {
            const char* name;
            QImage (*draw)(int);
        };
        const Variant variants[] = {{"HelperMenu", drawNormal}, {"HelperMenuPressed", drawPressed}};
        bool ok = true;
        for (const Variant& v : variants) {
            const QString name = QString::fromLatin1(v.name);
            ok &= glimra::artwork::writePng(v.draw(kDesignSize), out.filePath(name + QStringLiteral(".png")));
            ok &= glimra::artwork::writePng(v.draw(2 * kDesignSize),
                                            out.filePath(name + QStringLiteral("@2x.png")));
            for (int size : {16, 24, 32, 48})
                ok &= glimra::artwork::writePng(
                    v.draw(size), out.filePath(QStringLiteral("%1-%2.png").arg(name).arg(size)));
        }
        return ok;
    });
}
