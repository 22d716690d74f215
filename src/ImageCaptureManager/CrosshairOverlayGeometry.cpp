#include "CrosshairOverlayGeometry.h"

#include <algorithm>
#include <cmath>

using glimra::ScreenGeometry;

CrosshairOverlayGeometry::CrosshairOverlayGeometry(std::vector<ScreenGeometry> screens,
                                                   bool windowsSpanScreens, bool layoutInPoints)
    : screens_(std::move(screens)), layoutInPoints_(layoutInPoints),
      bounds_(glimra::boundingRectInPoints(screens_)) {
    const auto primary = std::find_if(screens_.begin(), screens_.end(), [](auto& s) { return s.primary; });
    mainScreenHeight_ = primary != screens_.end() ? primary->points.height()
                                                  : (screens_.empty() ? 0 : screens_.front().points.height());
    const bool onePixelPerPoint =
        std::all_of(screens_.begin(), screens_.end(), [](const ScreenGeometry& s) { return s.scale == 1; });
    if (screens_.size() == 1 || (windowsSpanScreens && onePixelPerPoint && !screens_.empty())) {
        // Points and pixels differ by one shift here; the primary (or any) screen gives it.
        const ScreenGeometry& s = primary != screens_.end() ? *primary : screens_.front();
        const QPointF shift = QPointF(s.native.topLeft()) - s.points.topLeft() * s.scale;
        const QRectF native(bounds_.topLeft() * s.scale + shift, bounds_.size() * s.scale);
        parts_.push_back({bounds_, native.toAlignedRect(), s.scale, s.name});
        return;
    }
    for (const ScreenGeometry& s : screens_)
        parts_.push_back({s.points, s.native, s.scale, s.name});
}

CGPoint CrosshairOverlayGeometry::screenPointFromView(CGPoint view) const {
    const QPointF d = displayPointFromView(view);
    return {d.x(), mainScreenHeight_ - d.y()};
}

CGPoint CrosshairOverlayGeometry::viewPointFromScreen(CGPoint screen) const {
    return viewPointFromDisplay(QPointF(screen.x, mainScreenHeight_ - screen.y));
}

QRectF CrosshairOverlayGeometry::overlayRectFromView(const CGRect& view) const {
    const double x0 = std::min(NSMinX(view), NSMaxX(view));
    const double y0 = std::min(NSMinY(view), NSMaxY(view));
    const double w = std::abs(NSWidth(view));
    const double h = std::abs(NSHeight(view));
    return QRectF(x0, bounds_.height() - y0 - h, w, h);
}

QPointF CrosshairOverlayGeometry::displayPointFromPartLocal(std::size_t part, QPointF local) const {
    const CrosshairOverlayPart& p = parts_[part];
    if (layoutInPoints_ || (parts_.size() == 1 && p.scale == 1))
        return p.points.topLeft() + local;
    return displayPointFromNative(QPointF(p.native.topLeft()) + local * p.scale);
}

QPointF CrosshairOverlayGeometry::displayPointFromNative(QPointF native) const {
    const QPoint pixel(int(std::floor(native.x())), int(std::floor(native.y())));
    const ScreenGeometry* s = glimra::screenForNativeRect(QRect(pixel, QSize(1, 1)), screens_);
    if (!s)
        return native;
    return s->points.topLeft() + (native - QPointF(s->native.topLeft())) / s->scale;
}

QRect CrosshairOverlayGeometry::partNativeRectFromOverlay(std::size_t part, const QRectF& overlay) const {
    const QRectF local = overlay.translated(-partRect(part).topLeft());
    const qreal s = parts_[part].scale;
    return QRectF(local.topLeft() * s, local.size() * s).toAlignedRect();
}
