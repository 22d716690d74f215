#include "display/DesktopSnapshot.h"

#include "Log.h"

#include <QPainter>

namespace glimra {

DesktopSnapshot::DesktopSnapshot(std::vector<Plane> planes, std::vector<ScreenGeometry> screens,
                                 std::optional<std::vector<WindowInfo>> windows)
    : planes_(std::move(planes)), screens_(std::move(screens)), windows_(std::move(windows)) {
    // A plane that is one screen's pixels says that screen's scale, as every grab's image does; set
    // while the pixels are the plane's alone, so that it costs no copy.
    for (Plane& plane : planes_)
        for (const ScreenGeometry& screen : screens_)
            if (screen.native == plane.native)
                plane.pixels.setDevicePixelRatio(screen.scale);
}

const DesktopSnapshot::Plane* DesktopSnapshot::planeHolding(const QRect& native) const {
    for (const Plane& plane : planes_)
        if (plane.native.contains(native))
            return &plane;
    return nullptr;
}

QImage DesktopSnapshot::nativePixels(const QRect& native) const {
    const Plane* plane = native.isEmpty() ? nullptr : planeHolding(native);
    if (!plane || plane->pixels.isNull())
        return QImage();
    if (native == plane->native)
        return plane->pixels;
    const QPoint at = native.topLeft() - plane->native.topLeft();
    // A view into the snapshot's buffer: the copy of this QImage keeps the buffer alive.
    const QImage whole = plane->pixels;
    return QImage(
        whole.constBits() + qsizetype(at.y()) * whole.bytesPerLine() + qsizetype(at.x()) * 4, native.width(),
        native.height(), whole.bytesPerLine(), whole.format(),
        [](void* keep) { delete static_cast<QImage*>(keep); }, new QImage(whole));
}

QImage DesktopSnapshot::imageOfRect(const QRectF& rect) const {
    QString whyNot;
    const std::optional<GrabPlan> plan = planGrabOfPoints(rect, screens_, &whyNot);
    if (!plan || planes_.empty()) {
        writeLogLine(QStringLiteral("No image of (%1, %2, %3 x %4) from the desktop snapshot: %5")
                         .arg(rect.x())
                         .arg(rect.y())
                         .arg(rect.width())
                         .arg(rect.height())
                         .arg(plan ? QStringLiteral("there is no snapshot") : whyNot));
        return QImage();
    }
    // A whole screen at its own scale is one plane's pixels as they are.
    if (plan->pieces.size() == 1 && plan->pieces.front().target == QRect(QPoint(0, 0), plan->size) &&
        plan->pieces.front().source.size() == plan->size)
        if (QImage whole = nativePixels(plan->pieces.front().source); !whole.isNull()) {
            whole.setDevicePixelRatio(plan->scale); // a view's own, or already the plane's: no copy
            return whole;
        }
    QImage image(plan->size, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.fill(Qt::black);
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    // Nearest neighbour (no smooth transform): a coarser screen's pixels become exact blocks.
    for (const GrabPiece& piece : plan->pieces)
        if (const Plane* plane = planeHolding(piece.source))
            p.drawImage(piece.target, plane->pixels, piece.source.translated(-plane->native.topLeft()));
    p.end();
    image.setDevicePixelRatio(plan->scale);
    return image;
}

} // namespace glimra
