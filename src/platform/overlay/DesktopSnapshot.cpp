#include "overlay/DesktopSnapshot.h"

#include "Log.h"

#include <QPainter>

namespace glimra {

DesktopSnapshot::DesktopSnapshot(QImage pixels, QPoint nativeOrigin, std::vector<x11::ScreenGeometry> screens)
    : pixels_(std::move(pixels)), nativeOrigin_(nativeOrigin), screens_(std::move(screens)) {}

QImage DesktopSnapshot::nativePixels(const QRect& native) const {
    if (native.isEmpty() || !nativeRect().contains(native))
        return QImage();
    if (native == nativeRect())
        return pixels_;
    const QPoint at = native.topLeft() - nativeOrigin_;
    // A view into the snapshot's buffer: the copy of this QImage keeps the buffer alive.
    const QImage whole = pixels_;
    return QImage(
        whole.constBits() + qsizetype(at.y()) * whole.bytesPerLine() + qsizetype(at.x()) * 4, native.width(),
        native.height(), whole.bytesPerLine(), whole.format(),
        [](void* keep) { delete static_cast<QImage*>(keep); }, new QImage(whole));
}

QImage DesktopSnapshot::imageOfRect(const QRectF& rect) const {
    QString whyNot;
    const std::optional<x11::GrabPlan> plan = x11::planGrabOfPoints(rect, screens_, &whyNot);
    if (!plan || pixels_.isNull()) {
        writeLogLine(QStringLiteral("No image of (%1, %2, %3 x %4) from the desktop snapshot: %5")
                         .arg(rect.x())
                         .arg(rect.y())
                         .arg(rect.width())
                         .arg(rect.height())
                         .arg(plan ? QStringLiteral("there is no snapshot") : whyNot));
        return QImage();
    }
    QImage image(plan->size, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.fill(Qt::black);
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    // Nearest neighbour (no smooth transform): a coarser screen's pixels become exact blocks.
    for (const x11::GrabPiece& piece : plan->pieces)
        p.drawImage(piece.target, pixels_, piece.source.translated(-nativeOrigin_));
    return image;
}

} // namespace glimra
