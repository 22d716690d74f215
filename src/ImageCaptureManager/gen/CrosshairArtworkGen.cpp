// Draws the crosshair capture's artwork, each at 1x (NAME.png) and 2x (NAME@2x.png):
//   screenshot_crosshair   the badge at the pointer: a ring around the crosshair's centre, 21 points
//                          from the left and top edges, and a dark rounded plate behind the two
//                          numbers, which the overlay writes into the box x 30, y 15, 30 x 30 (points,
//                          y up from the bottom edge)
//   capture_blue_handle    a corner handle of the selection: a blue disc in a white ring, 13 points
//   countdown_1 ... countdown_60   a timed capture's seconds: a white number on a dark disc, 45 points
//
//   glimra_crosshair_artwork_gen OUTPUT_DIR
//
// Every shape is drawn at the target scale, not scaled afterwards, so edges stay crisp at both.

#include "gen/ArtworkOutput.h"

#include <QColor>
#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cstdio>

namespace {

constexpr int kBadgeWidth = 66;
constexpr int kBadgeHeight = 66;
constexpr double kBadgeCentre = 21; // the crosshair's centre, from the left and from the top
constexpr int kHandleSize = 13;
constexpr int kCountdownSize = 45;
constexpr int kLargestCountdown = 60;

const QColor kPlate(0x16, 0x18, 0x1c, 0xd0);
const QColor kPlateEdge(0xff, 0xff, 0xff, 0x38);
const QColor kRing(0xff, 0xff, 0xff, 0xe6);
const QColor kRingShadow(0, 0, 0, 0x80);
const QColor kHandleBlue(0x1f, 0x7a, 0xf0);
const QColor kDisc(0x10, 0x12, 0x16, 0xb8);

QImage canvas(int width, int height, int scale) {
    QImage image(width * scale, height * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// Painting in points; the painter's scale makes the pixels.
void begin(QPainter& p, int scale) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(scale, scale);
}

QImage drawBadge(int scale) {
    QImage image = canvas(kBadgeWidth, kBadgeHeight, scale);
    QPainter p(&image);
    begin(p, scale);
    // The numbers' box is x 30..60 and, measured from the top, kBadgeHeight - 45 .. kBadgeHeight - 15;
    // two lines of a 9-point font fill its upper 24 points.
    const QRectF plate(27, kBadgeHeight - 48, 37, 29);
    p.setPen(QPen(kPlateEdge, 1.0 / scale));
    p.setBrush(kPlate);
    p.drawRoundedRect(plate.adjusted(0.5 / scale, 0.5 / scale, -0.5 / scale, -0.5 / scale), 5, 5);
    // A ring with a dark halo reads over light and dark desktops alike.
    const QPointF centre(kBadgeCentre, kBadgeCentre);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kRingShadow, 3.0));
    p.drawEllipse(centre, 5.5, 5.5);
    p.setPen(QPen(kRing, 1.5));
    p.drawEllipse(centre, 5.5, 5.5);
    return image;
}

QImage drawHandle(int scale) {
    QImage image = canvas(kHandleSize, kHandleSize, scale);
    QPainter p(&image);
    begin(p, scale);
    const QPointF centre(kHandleSize / 2.0, kHandleSize / 2.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 0x60));
    p.drawEllipse(centre, 6.5, 6.5);
    p.setBrush(Qt::white);
    p.drawEllipse(centre, 6.0, 6.0);
    p.setBrush(kHandleBlue);
    p.drawEllipse(centre, 4.0, 4.0);
    return image;
}

QImage drawCountdown(int number, int scale) {
    QImage image = canvas(kCountdownSize, kCountdownSize, scale);
    QPainter p(&image);
    begin(p, scale);
    const QPointF centre(kCountdownSize / 2.0, kCountdownSize / 2.0);
    p.setPen(Qt::NoPen);
    p.setBrush(kDisc);
    p.drawEllipse(centre, 22.0, 22.0);

    const QString text = QString::number(number);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(text.size() > 1 ? 22 : 26);
    // Outlines rather than text drawing: placed by their exact bounds, centred on the disc.
    QPainterPath glyphs;
    glyphs.addText(0, 0, font, text);
    const QRectF bounds = glyphs.boundingRect();
    glyphs.translate(centre - bounds.center());
    p.setBrush(Qt::white);
    p.drawPath(glyphs);
    return image;
}

bool write(const QImage& image, const QDir& out, const QString& name, int scale) {
    return glimra::artwork::writePng(
        image, out.filePath(scale == 1 ? name + QStringLiteral(".png")
                                       : QStringLiteral("%1@%2x.png").arg(name).arg(scale)));
}

} // namespace

int main(int argc, char** argv) {
    int status = 0;
    const std::optional<QDir> out = glimra::artwork::outputDirectory(argc, argv, &status);
    if (!out)
        return status;
    // Fonts need an application object, not a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    bool ok = true;
    for (int scale : {1, 2}) {
        ok &= write(drawBadge(scale), *out, QStringLiteral("screenshot_crosshair"), scale);
        ok &= write(drawHandle(scale), *out, QStringLiteral("capture_blue_handle"), scale);
        for (int n = 1; n <= kLargestCountdown; ++n)
            ok &= write(drawCountdown(n, scale), *out, QStringLiteral("countdown_%1").arg(n), scale);
    }
    return ok ? 0 : 1;
}
