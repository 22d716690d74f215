// Draws the application icon for the desktop's icon theme: the viewfinder glyph of the status item,
// light on a rounded blue plate. One PNG per size the hicolor theme has folders for:
//   app.glimra.Glimra-SIZE.png for SIZE in 16 22 24 32 48 64 128 256 512
//
//   glimra_app_icon_gen OUTPUT_DIR

#include "gen/ArtworkOutput.h"
#include "gen/ViewfinderGlyph.h"

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

const QColor kPlateTop(0x3a, 0x7b, 0xd5);
const QColor kPlateBottom(0x1d, 0x35, 0x57);
const QColor kPlateEdge(0x10, 0x20, 0x38);
const QColor kGlyphColor(0xf4, 0xf4, 0xf4);

QImage drawIcon(int size) {
    using namespace glimra::artwork;
    const double s = double(size) / kViewfinderDesignSize;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // The theme's icons keep a little air around their plate; tiny ones use every pixel they have.
    const int inset = size < 32 ? 0 : snapToPixels(1, s);
    const QRectF plate(inset, inset, size - 2 * inset, size - 2 * inset);
    const double radius = plate.width() * 0.2;
    QPainterPath platePath;
    platePath.addRoundedRect(plate, radius, radius);
    QLinearGradient gradient(plate.topLeft(), plate.bottomLeft());
    gradient.setColorAt(0, kPlateTop);
    gradient.setColorAt(1, kPlateBottom);
    p.fillPath(platePath, kPlateEdge);
    const double edge = std::max(1.0, size / 64.0);
    QPainterPath face;
    face.addRoundedRect(plate.adjusted(edge, edge, -edge, -edge), radius - edge, radius - edge);
    p.fillPath(face, gradient);

    // Below 32 px the glyph needs the whole square to stay legible; above, it sits inside the plate.
    const int box = size < 32 ? size : snapToPixels(0.8 * kViewfinderDesignSize, s);
    const int offset = (size - box) / 2;
    p.translate(offset, offset);
    p.fillPath(viewfinderGlyph(box), kGlyphColor);
    return image;
}

} // namespace

int main(int argc, char** argv) {
    return glimra::artwork::writeArtwork(argc, argv, [](const QDir& out) {
        bool ok = true;
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256, 512})
            ok &= glimra::artwork::writePng(
                drawIcon(size), out.filePath(QStringLiteral("app.glimra.Glimra-%1.png").arg(size)));
        return ok;
    });
}
