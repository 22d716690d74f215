// Draws the interface toolkit's artwork, each piece at 1x (NAME.png) and 2x (NAME@2x.png):
//   dark_box_{top,middle,bottom}_{left,middle,right}   the dark panel's box, a rounded dark plate
//                                                        with a light rim, in nine parts
//   button_{gray,blue}_{left,middle,right}[_pressed]   push-button skins in three parts
//   button_disabled_{left,middle,right}                the flat look of a disabled button
//   capture_input_{left,middle,right}                  the sunken well behind a number field
//   proportion_link[_active][_pressed]                 the aspect-ratio lock: a broken chain (off),
//                                                        a closed one (on), darker while pressed
//
//   glimra_toolkit_artwork_gen OUTPUT_DIR
//
// Every piece is cut from one drawing of the whole shape, so the parts join without seams. The
// stretched parts (edges, centres) are one point wide or tall and uniform along their stretch, so
// stretching them reproduces the drawing exactly.

#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>

#include <cstdio>

namespace {

constexpr int kBoxCorner = 12;
constexpr double kBoxRadius = 8;
const QColor kBoxFill(0x1e, 0x1f, 0x22);
const QColor kBoxRim(0x5a, 0x5c, 0x62);

constexpr int kButtonHeight = 24;
constexpr int kButtonCap = 6;
constexpr double kButtonRadius = 4.5;

struct ButtonLook {
    const char* name;
    QColor top, bottom, rim, highlight;
};

const ButtonLook kButtonLooks[] = {
    {"button_gray", QColor(0x74, 0x76, 0x7b), QColor(0x55, 0x57, 0x5c), QColor(0x2a, 0x2b, 0x2e),
     QColor(255, 255, 255, 60)},
    {"button_gray_pressed", QColor(0x45, 0x47, 0x4b), QColor(0x3a, 0x3b, 0x3f), QColor(0x22, 0x23, 0x26),
     QColor(255, 255, 255, 20)},
    {"button_blue", QColor(0x4c, 0x9a, 0xf0), QColor(0x23, 0x6f, 0xd6), QColor(0x12, 0x46, 0x94),
     QColor(255, 255, 255, 80)},
    {"button_blue_pressed", QColor(0x1f, 0x61, 0xbd), QColor(0x1a, 0x55, 0xa8), QColor(0x0e, 0x3a, 0x7c),
     QColor(255, 255, 255, 30)},
    {"button_disabled", QColor(0x4a, 0x4b, 0x4f), QColor(0x4a, 0x4b, 0x4f), QColor(0x3a, 0x3b, 0x3e),
     QColor(255, 255, 255, 0)},
};

constexpr int kInputHeight = 24;
constexpr int kInputCap = 5;
constexpr double kInputRadius = 4;
const QColor kInputFill(0x10, 0x11, 0x13);
const QColor kInputRim(0x3b, 0x3d, 0x42);

constexpr int kLinkSide = 16;

struct LinkLook {
    const char* name;
    bool closed;
    QColor colour;
};

const LinkLook kLinkLooks[] = {
    {"proportion_link", false, QColor(0x9a, 0x9d, 0xa3)},
    {"proportion_link_pressed", false, QColor(0x6c, 0x6f, 0x75)},
    {"proportion_link_active", true, QColor(0x5c, 0xa8, 0xff)},
    {"proportion_link_active_pressed", true, QColor(0x3a, 0x7c, 0xd0)},
};

QImage blank(QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A rounded plate of size points at scale: a one-point rim around a face.
QImage drawPlate(QSize size, double radius, const QColor& rim, const QBrush& face, int scale) {
    QImage image = blank(size * scale);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    QPainterPath outer;
    outer.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), radius, radius);
    p.fillPath(outer, rim);
    QPainterPath inner;
    inner.addRoundedRect(QRectF(1, 1, size.width() - 2, size.height() - 2), radius - 1, radius - 1);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillPath(inner, face);
    return image;
}

// The whole box, (2 * kBoxCorner + 1) points square.
QImage drawBox(int scale) {
    const int side = 2 * kBoxCorner + 1;
    return drawPlate(QSize(side, side), kBoxRadius, kBoxRim, kBoxFill, scale);
}

// The whole button, (2 * kButtonCap + 1) points wide.
QImage drawButton(const ButtonLook& look, int scale) {
    const int width = 2 * kButtonCap + 1;
    QLinearGradient face(0, 1, 0, kButtonHeight - 1);
    face.setColorAt(0, look.top);
    face.setColorAt(1, look.bottom);
    QImage image = drawPlate(QSize(width, kButtonHeight), kButtonRadius, look.rim, face, scale);
    // A lit top edge, inside the rim.
    QPainter p(&image);
    p.scale(scale, scale);
    p.fillRect(QRectF(kButtonRadius - 1, 1, width - 2 * (kButtonRadius - 1), 1), look.highlight);
    return image;
}

// The whole field well, (2 * kInputCap + 1) points wide: a dark face with a shadow under its top
// edge, so it reads as sunk into the panel.
QImage drawInput(int scale) {
    const int width = 2 * kInputCap + 1;
    QImage image = drawPlate(QSize(width, kInputHeight), kInputRadius, kInputRim, kInputFill, scale);
    QPainter p(&image);
    p.scale(scale, scale);
    p.fillRect(QRectF(kInputRadius - 1, 1, width - 2 * (kInputRadius - 1), 1), QColor(0, 0, 0, 110));
    return image;
}

// Two chain links side by side: interlocked when closed, apart with a break between them when not.
QImage drawLink(const LinkLook& look, int scale) {
    QImage image = blank(QSize(kLinkSide, kLinkSide) * scale);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    p.setPen(QPen(look.colour, 1.4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    const double offset = look.closed ? 1.8 : 4.5;
    const QSizeF link(5.5, 4.5);
    for (double centre : {8 - offset, 8 + offset})
        p.drawRoundedRect(QRectF(QPointF(centre - link.width() / 2, 8 - link.height() / 2), link), 2.25,
                          2.25);
    if (!look.closed) {
        p.drawLine(QPointF(8, 3), QPointF(8, 4.5));
        p.drawLine(QPointF(8, 11.5), QPointF(8, 13));
    }
    return image;
}

bool write(const QImage& image, const QDir& out, const QString& name, int scale) {
    const QString path =
        out.filePath(name + (scale == 1 ? QStringLiteral(".png") : QStringLiteral("@2x.png")));
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "Cannot write %s\n", qPrintable(path));
    return false;
}

// Cuts a drawing at scale into parts of the given lengths (in points) per axis, named
// prefix_row_column + suffix (prefix_column + suffix for an unnamed row).
bool writeParts(const QImage& whole, int scale, const QDir& out, const QString& prefix,
                const QStringList& rows, const QList<int>& rowHeights, const QStringList& columns,
                const QList<int>& columnWidths, const QString& suffix = QString()) {
    bool ok = true;
    int y = 0;
    for (qsizetype r = 0; r < rows.size(); ++r) {
        int x = 0;
        for (qsizetype c = 0; c < columns.size(); ++c) {
            const QRect part(x * scale, y * scale, columnWidths[c] * scale, rowHeights[r] * scale);
            QStringList words{prefix};
            if (!rows[r].isEmpty())
                words << rows[r];
            words << columns[c];
            ok &= write(whole.copy(part), out, words.join(u'_') + suffix, scale);
            x += columnWidths[c];
        }
        y += rowHeights[r];
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "Cannot create %s\n", argv[1]);
        return 1;
    }
    const QStringList sides{QStringLiteral("left"), QStringLiteral("middle"), QStringLiteral("right")};
    bool ok = true;
    for (int scale : {1, 2}) {
        ok &= writeParts(drawBox(scale), scale, out, QStringLiteral("dark_box"),
                         {QStringLiteral("top"), QStringLiteral("middle"), QStringLiteral("bottom")},
                         {kBoxCorner, 1, kBoxCorner}, sides, {kBoxCorner, 1, kBoxCorner});
        for (const ButtonLook& look : kButtonLooks) {
            // button_gray_pressed cuts into button_gray_left_pressed and so on.
            QString name = QString::fromLatin1(look.name);
            const bool pressed = name.endsWith(QStringLiteral("_pressed"));
            if (pressed)
                name.chop(8);
            ok &= writeParts(drawButton(look, scale), scale, out, name, {QString()}, {kButtonHeight}, sides,
                             {kButtonCap, 1, kButtonCap}, pressed ? QStringLiteral("_pressed") : QString());
        }
        ok &= writeParts(drawInput(scale), scale, out, QStringLiteral("capture_input"), {QString()},
                         {kInputHeight}, sides, {kInputCap, 1, kInputCap});
        for (const LinkLook& look : kLinkLooks)
            ok &= write(drawLink(look, scale), out, QString::fromLatin1(look.name), scale);
    }
    return ok ? 0 : 1;
}
