#include "display/DisplayGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace glimra {

namespace {

// Beyond this a coordinate cannot describe any real desktop; refusing it early also keeps the
// pixel arithmetic far from integer overflow.
constexpr qreal kMaxCoordinate = 1.0e7;

// Rounds a pixel edge half-up, the same way everywhere, so neighbouring pieces neither overlap nor
// leave a gap between them.
int roundEdge(qreal v) {
    const qreal r = std::floor(v + 0.5);
    return int(std::clamp<qreal>(r, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

qint64 area(const QRect& r) {
    return r.isEmpty() ? 0 : qint64(r.width()) * r.height();
}

qint64 distanceSquared(const QRect& a, const QRect& b) {
    const qint64 dx = std::max<qint64>({0, qint64(b.left()) - a.right(), qint64(a.left()) - b.right()});
    const qint64 dy = std::max<qint64>({0, qint64(b.top()) - a.bottom(), qint64(a.top()) - b.bottom()});
    return dx * dx + dy * dy;
}

bool checkSize(qint64 width, qint64 height, QString* whyNot) {
    if (width > kMaxGrabSide || height > kMaxGrabSide || width * height * 4 > kMaxGrabBytes) {
        if (whyNot)
            *whyNot = QStringLiteral("an image of %1 x %2 pixels is too large").arg(width).arg(height);
        return false;
    }
    return true;
}

} // namespace

QRect nativeRectForPoints(const QRectF& rect, const ScreenGeometry& screen) {
    const int left = screen.native.left() + roundEdge((rect.left() - screen.points.left()) * screen.scale);
    const int top = screen.native.top() + roundEdge((rect.top() - screen.points.top()) * screen.scale);
    const int right = screen.native.left() + roundEdge((rect.right() - screen.points.left()) * screen.scale);
    const int bottom = screen.native.top() + roundEdge((rect.bottom() - screen.points.top()) * screen.scale);
    return QRect(QPoint(left, top), QSize(right - left, bottom - top));
}

const ScreenGeometry* screenForNativeRect(const QRect& native, const std::vector<ScreenGeometry>& screens) {
    const ScreenGeometry* best = nullptr;
    qint64 bestArea = 0;
    for (const ScreenGeometry& s : screens) {
        const qint64 a = area(native.intersected(s.native));
        if (a > bestArea) {
            best = &s;
            bestArea = a;
        }
    }
    if (best)
        return best;
    qint64 bestDistance = std::numeric_limits<qint64>::max();
    for (const ScreenGeometry& s : screens) {
        const qint64 d = distanceSquared(native, s.native);
        if (d < bestDistance) {
            best = &s;
            bestDistance = d;
        }
    }
    return best;
}

QRectF pointsRectForNative(const QRect& native, const std::vector<ScreenGeometry>& screens) {
    const ScreenGeometry* s = screenForNativeRect(native, screens);
    if (!s)
        return QRectF(native);
    return QRectF(s->points.left() + (native.x() - s->native.x()) / s->scale,
                  s->points.top() + (native.y() - s->native.y()) / s->scale, native.width() / s->scale,
                  native.height() / s->scale);
}

std::vector<ScreenGeometry> clippedToRoot(std::vector<ScreenGeometry> screens, const QRect& root) {
    std::vector<ScreenGeometry> out;
    for (ScreenGeometry& s : screens) {
        const QRect n = s.native.intersected(root);
        if (n.isEmpty() || s.scale <= 0)
            continue;
        s.points = QRectF(s.points.left() + (n.x() - s.native.x()) / s.scale,
                          s.points.top() + (n.y() - s.native.y()) / s.scale, n.width() / s.scale,
                          n.height() / s.scale);
        s.native = n;
        out.push_back(std::move(s));
    }
    return out;
}

QRectF boundingRectInPoints(const std::vector<ScreenGeometry>& screens) {
    QRectF box;
    for (const ScreenGeometry& s : screens)
        box = box.isNull() ? s.points : box.united(s.points);
    return box;
}

std::optional<GrabPlan> planGrabOfPoints(const QRectF& requested, const std::vector<ScreenGeometry>& screens,
                                         QString* whyNot) {
    const QRectF rect = requested.normalized();
    if (!std::isfinite(rect.x()) || !std::isfinite(rect.y()) || !std::isfinite(rect.width()) ||
        !std::isfinite(rect.height()) || std::abs(rect.x()) > kMaxCoordinate ||
        std::abs(rect.y()) > kMaxCoordinate || rect.width() > kMaxCoordinate ||
        rect.height() > kMaxCoordinate) {
        if (whyNot)
            *whyNot = QStringLiteral("the rectangle lies outside any possible desktop");
        return std::nullopt;
    }
    if (rect.isEmpty()) {
        if (whyNot)
            *whyNot = QStringLiteral("the rectangle is empty");
        return std::nullopt;
    }

    // Like a desktop of mixed screens, the image takes the finest scale it touches; the coarser
    // screens' pixels are enlarged into it.
    qreal scale = 0;
    for (const ScreenGeometry& s : screens)
        if (s.points.intersects(rect))
            scale = std::max(scale, s.scale);
    if (scale <= 0)
        scale = 1;

    const qint64 originX = roundEdge(rect.left() * scale);
    const qint64 originY = roundEdge(rect.top() * scale);
    const qint64 width = std::max<qint64>(1, roundEdge(rect.right() * scale) - originX);
    const qint64 height = std::max<qint64>(1, roundEdge(rect.bottom() * scale) - originY);
    if (!checkSize(width, height, whyNot))
        return std::nullopt;

    GrabPlan plan;
    plan.size = QSize(int(width), int(height));
    plan.scale = scale;
    const QRect whole(QPoint(0, 0), plan.size);
    for (const ScreenGeometry& s : screens) {
        const QRectF part = rect.intersected(s.points);
        if (part.isEmpty())
            continue;
        const int left = int(roundEdge(part.left() * scale) - originX);
        const int top = int(roundEdge(part.top() * scale) - originY);
        QRect target = QRect(QPoint(left, top), QSize(int(roundEdge(part.right() * scale) - originX) - left,
                                                      int(roundEdge(part.bottom() * scale) - originY) - top))
                           .intersected(whole);
        QRect source = nativeRectForPoints(part, s).intersected(s.native);
        if (qFuzzyCompare(s.scale, scale)) {
            // Same scale: rounding may differ by a pixel between the two sides; copy what both have.
            const QSize common = source.size().boundedTo(target.size());
            source.setSize(common);
            target.setSize(common);
        }
        if (source.isEmpty() || target.isEmpty())
            continue;
        plan.pieces.push_back({source, target});
    }
    return plan;
}

std::optional<GrabPlan> planGrabOfNative(const QRect& rect, const std::vector<ScreenGeometry>& screens,
                                         QString* whyNot) {
    if (rect.isEmpty()) {
        if (whyNot)
            *whyNot = QStringLiteral("the rectangle is empty");
        return std::nullopt;
    }
    if (!checkSize(rect.width(), rect.height(), whyNot))
        return std::nullopt;
    GrabPlan plan;
    plan.size = rect.size();
    if (const ScreenGeometry* shows = screenForNativeRect(rect, screens))
        plan.scale = shows->scale;
    for (const ScreenGeometry& s : screens) {
        const QRect part = rect.intersected(s.native);
        if (part.isEmpty())
            continue;
        // Mirrored screens show the same pixels; read them once.
        const bool seen = std::any_of(plan.pieces.begin(), plan.pieces.end(),
                                      [&](const GrabPiece& p) { return p.source.contains(part); });
        if (!seen)
            plan.pieces.push_back({part, part.translated(-rect.topLeft())});
    }
    return plan;
}

} // namespace glimra
