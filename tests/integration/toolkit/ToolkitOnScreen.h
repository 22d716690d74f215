#pragma once
// What the toolkit's screen tests share: reading the screen, references composed from artwork files,
// and pixel comparison.

#include "TestSupport.h"

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QString>

#include <algorithm>
#include <cmath>

namespace toolkittest {

inline QImage artwork(const QString& name) {
    return QImage(QStringLiteral(GLIMRA_HELPER_BUNDLE_DIR "/Contents/Resources/images/%1.png").arg(name))
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

inline QImage screenRect(const QRect& r) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, r.x(), r.y(), r.width(), r.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// The largest difference of one colour channel between two images of one size.
inline int worstDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return 255;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

// Waits for the screen at r to show reference (within a rounding step or two); the last difference.
inline int screenDifference(const QRect& r, const QImage& reference) {
    int difference = 255;
    glimra::test::waitUntil([&] { return (difference = worstDifference(screenRect(r), reference)) <= 3; },
                            3000);
    return difference;
}

// The source pixel a part-wise drawing shows at position p of length `length`, with ends of natural
// lengths lead and trail and a one-pixel stretched middle.
inline int partPixel(int p, int length, int lead, int trail) {
    if (p < lead)
        return p;
    if (p >= length - trail)
        return lead + 1 + (p - (length - trail));
    return lead;
}

} // namespace toolkittest
