#include "CrosshairOverlayRenderer.h"

#include "ui/NamedImage.h"

#include <QFont>
#include <QGuiApplication>
#include <QPainter>

#include <cmath>

namespace {

// Single-precision constants of the look, widened.
const QColor kDimming = QColor::fromRgbF(0.33f, 0.33f, 0.33f, 0.65f);
const QColor kLine = QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.65f);
constexpr float kHandleOpacity = 0.4f;
constexpr double kBadgeInset = 21; // the badge's crosshair centre, from its left and top edges
// The numbers' box in the badge image: x 30, y 15 (up from its bottom edge), 30 x 30.
constexpr double kTextBoxX = 30, kTextBoxY = 15, kTextBoxSide = 30;
constexpr int kBadgeFontPixels = 9;

// A y-up rectangle of a view of height h, in y-down coordinates, made positive.
QRectF flipped(const CGRect& r, double h) {
    const double x0 = std::min(NSMinX(r), NSMaxX(r));
    const double y0 = std::min(NSMinY(r), NSMaxY(r));
    const double w = std::abs(NSWidth(r)), ht = std::abs(NSHeight(r));
    return QRectF(x0, h - y0 - ht, w, ht);
}

void addBoth(std::vector<QRectF>& out, const QRectF& a, const QRectF& b) {
    if (!a.isEmpty())
        out.push_back(a);
    if (!b.isEmpty())
        out.push_back(b);
}

} // namespace

bool OverlayFrame::operator==(const OverlayFrame& o) const {
    return bounds == o.bounds && hole == o.hole && lines == o.lines && (!lines || crossing == o.crossing) &&
           badge == o.badge &&
           (!badge || (badgeRect == o.badgeRect && badgeLeft == o.badgeLeft && badgeAbove == o.badgeAbove &&
                       topNumber == o.topNumber && bottomNumber == o.bottomNumber)) &&
           handles == o.handles && (!handles || handleRects == o.handleRects) &&
           timerImage.cacheKey() == o.timerImage.cacheKey() && timerRect == o.timerRect &&
           outline == o.outline && bare == o.bare;
}

std::array<QRectF, 2> crosshairLineRects(const OverlayFrame& f) {
    return {QRectF(f.crossing.x() - 0.5, 0, 1, f.bounds.height()),
            QRectF(0, f.crossing.y() - 0.5, f.bounds.width(), 1)};
}

QRectF badgeNumbersBox(const OverlayFrame& f) {
    const QSizeF size = f.badgeRect.size();
    return QRectF(f.badgeLeft ? size.width() - kTextBoxX - kTextBoxSide : kTextBoxX,
                  f.badgeAbove ? kTextBoxY : size.height() - kTextBoxY - kTextBoxSide, kTextBoxSide,
                  kTextBoxSide);
}

std::array<QRectF, 4> outlineRects(const QRectF& h) {
    return {QRectF(h.left() - 1, h.top() - 1, h.width() + 2, 1),
            QRectF(h.left() - 1, h.bottom(), h.width() + 2, 1), QRectF(h.left() - 1, h.top(), 1, h.height()),
            QRectF(h.right(), h.top(), 1, h.height())};
}

OverlayFrame makeOverlayFrame(const OverlayDrawState& state, CGPoint pointer, CGSize bounds, QSizeF badgeSize,
                              bool outlineHole, const std::vector<QRectF>& screens) {
    using Mode = OverlayDrawState::Mode;
    OverlayFrame f;
    const double h = bounds.height;
    f.bounds = QSizeF(bounds.width, h);
    const double cx = double(std::floor(float(pointer.x)) - 0.5f);
    const double cy = double(std::floor(float(pointer.y)) + 1.5f);
    f.crossing = QPointF(cx, h - cy);
    QRectF screen(QPointF(0, 0), f.bounds);
    for (const QRectF& s : screens)
        if (s.contains(f.crossing)) {
            screen = s;
            break;
        }
    f.badgeRect = QRectF(cx - kBadgeInset, h - cy - kBadgeInset, badgeSize.width(), badgeSize.height());
    f.badgeLeft = f.badgeRect.right() > screen.right();
    f.badgeAbove = f.badgeRect.bottom() > screen.bottom();
    if (f.badgeLeft)
        f.badgeRect.moveRight(f.crossing.x() + kBadgeInset);
    if (f.badgeAbove)
        f.badgeRect.moveBottom(f.crossing.y() + kBadgeInset);
    f.topNumber = state.topNumber;
    f.bottomNumber = state.bottomNumber;
    if (state.mode != Mode::Idle)
        f.hole = flipped(state.selection, h);
    switch (state.mode) {
    case Mode::Idle:
        f.lines = true;
        f.badge = true;
        break;
    case Mode::FirstDrag:
        f.badge = true;
        break;
    case Mode::Refining: {
        f.handles = true;
        const double size = state.cropHandleSize, c = state.cropHandleCenter;
        const CGRect& s = state.selection;
        const CGPoint corners[4] = {
            {NSMinX(s), NSMaxY(s)}, {NSMaxX(s), NSMaxY(s)}, {NSMinX(s), NSMinY(s)}, {NSMaxX(s), NSMinY(s)}};
        for (int i = 0; i < 4; ++i)
            f.handleRects[std::size_t(i)] =
                flipped(NSMakeRect(corners[i].x - c, corners[i].y - c, size, size), h);
        break;
    }
    case Mode::Countdown:
        f.outline = outlineHole && !f.hole.isEmpty();
        if (!state.timerImage.isNull()) {
            f.timerImage = state.timerImage;
            f.timerRect = flipped(state.timerDisplayRect, h);
        }
        break;
    }
    if (!f.badge) {
        f.badgeRect = QRectF();
        f.badgeLeft = f.badgeAbove = false;
    }
    return f;
}

std::vector<QRectF> subtractRect(const QRectF& a, const QRectF& b) {
    if (a.isEmpty())
        return {};
    const QRectF cut = a.intersected(b);
    if (cut.isEmpty())
        return {a};
    std::vector<QRectF> out;
    // Full-width bands above and below the cut, then the pieces left and right of it.
    if (cut.top() > a.top())
        out.emplace_back(a.left(), a.top(), a.width(), cut.top() - a.top());
    if (cut.bottom() < a.bottom())
        out.emplace_back(a.left(), cut.bottom(), a.width(), a.bottom() - cut.bottom());
    if (cut.left() > a.left())
        out.emplace_back(a.left(), cut.top(), cut.left() - a.left(), cut.height());
    if (cut.right() < a.right())
        out.emplace_back(cut.right(), cut.top(), a.right() - cut.right(), cut.height());
    return out;
}

std::vector<QRectF> overlayFrameDamage(const OverlayFrame& before, const OverlayFrame& after) {
    std::vector<QRectF> out;
    if (before.bounds != after.bounds || before.bare != after.bare) {
        out.emplace_back(QPointF(0, 0), after.bounds.expandedTo(before.bounds));
        return out;
    }
    if (before.hole != after.hole) {
        // Inside both holes nothing changes; between them the dimming comes or goes.
        for (const QRectF& r : subtractRect(before.hole, after.hole))
            out.push_back(r);
        for (const QRectF& r : subtractRect(after.hole, before.hole))
            out.push_back(r);
    }
    const auto lineB = crosshairLineRects(before), lineA = crosshairLineRects(after);
    for (std::size_t i = 0; i < 2; ++i)
        if (before.lines != after.lines || (after.lines && lineB[i] != lineA[i]))
            addBoth(out, before.lines ? lineB[i] : QRectF(), after.lines ? lineA[i] : QRectF());
    if (before.badge != after.badge || before.badgeRect != after.badgeRect ||
        before.badgeLeft != after.badgeLeft || before.badgeAbove != after.badgeAbove ||
        (after.badge && (before.topNumber != after.topNumber || before.bottomNumber != after.bottomNumber)))
        addBoth(out, before.badge ? before.badgeRect : QRectF(), after.badge ? after.badgeRect : QRectF());
    if (before.handles != after.handles || before.handleRects != after.handleRects)
        for (std::size_t i = 0; i < 4; ++i)
            addBoth(out, before.handles ? before.handleRects[i] : QRectF(),
                    after.handles ? after.handleRects[i] : QRectF());
    if (before.timerImage.cacheKey() != after.timerImage.cacheKey() || before.timerRect != after.timerRect)
        addBoth(out, before.timerImage.isNull() ? QRectF() : before.timerRect,
                after.timerImage.isNull() ? QRectF() : after.timerRect);
    if (before.outline != after.outline || (after.outline && before.hole != after.hole)) {
        if (before.outline)
            for (const QRectF& r : outlineRects(before.hole))
                out.push_back(r);
        if (after.outline)
            for (const QRectF& r : outlineRects(after.hole))
                out.push_back(r);
    }
    return out;
}

CrosshairOverlayRenderer::CrosshairOverlayRenderer(QString imagesDir) : imagesDir_(std::move(imagesDir)) {}

const QImage& CrosshairOverlayRenderer::image(const QString& name, qreal devicePixelRatio,
                                              bool mirroredHorizontally, bool mirroredVertically) {
    const int scale = std::max(1, int(std::ceil(devicePixelRatio)));
    const auto key = std::tuple(name, scale, mirroredHorizontally, mirroredVertically);
    auto it = images_.find(key);
    if (it == images_.end()) {
        QImage loaded = glimra::loadNamedImageForScale(imagesDir_, name, scale);
        if (mirroredHorizontally || mirroredVertically)
            loaded = loaded.mirrored(mirroredHorizontally, mirroredVertically);
        it = images_.emplace(key, std::move(loaded)).first;
    }
    return it->second;
}

QSizeF CrosshairOverlayRenderer::badgeSize() const {
    const QImage badge =
        glimra::loadNamedImageForScale(imagesDir_, QStringLiteral("screenshot_crosshair"), 1);
    return badge.deviceIndependentSize();
}

void CrosshairOverlayRenderer::paint(QPainter& p, const OverlayFrame& frame, QPointF origin, qreal scale,
                                     const QImage& backdrop, const std::vector<QRectF>& rects) {
    p.save();
    p.translate(-origin);
    for (const QRectF& r : rects)
        paintRect(p, frame, r, scale, backdrop, origin);
    p.restore();
}

void CrosshairOverlayRenderer::paintRect(QPainter& p, const OverlayFrame& f, const QRectF& r, qreal scale,
                                         const QImage& backdrop, QPointF origin) {
    p.setClipRect(r);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    if (f.bare) {
        p.fillRect(r, Qt::transparent);
    } else if (!backdrop.isNull()) {
        const QRectF local = r.translated(-origin);
        p.drawImage(r, backdrop, QRectF(local.topLeft() * scale, local.size() * scale));
    }
    // Without a backdrop the dimming replaces what was there, and the hole becomes clear.
    if (!f.bare && backdrop.isNull() && !f.hole.isEmpty())
        p.fillRect(r.intersected(f.hole), Qt::transparent);
    if (!backdrop.isNull())
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (!f.bare)
        for (const QRectF& piece : f.hole.isEmpty() ? std::vector<QRectF>{r} : subtractRect(r, f.hole))
            p.fillRect(piece, kDimming);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);

    if (f.lines)
        for (const QRectF& line : crosshairLineRects(f))
            if (line.intersects(r))
                p.fillRect(line.intersected(r), kLine);
    if (f.outline)
        for (const QRectF& line : outlineRects(f.hole))
            if (line.intersects(r))
                p.fillRect(line.intersected(r), kLine);
    if (f.badge && f.badgeRect.intersects(r)) {
        // On the pixel grid, so that the text stays sharp where the crossing lies on a half point.
        const QPointF at(std::floor(f.badgeRect.left() * scale) / scale,
                         std::floor(f.badgeRect.top() * scale) / scale);
        p.drawImage(at, image(QStringLiteral("screenshot_crosshair"), scale, f.badgeLeft, f.badgeAbove));
        const QString text =
            locale_.toString(qulonglong(f.topNumber)) + u'\n' + locale_.toString(qulonglong(f.bottomNumber));
        QFont font = QGuiApplication::font();
        font.setPixelSize(kBadgeFontPixels);
        p.setFont(font);
        // The text keeps to the sides of its box the badge was mirrored to.
        const QRectF box = badgeNumbersBox(f).translated(at);
        const Qt::Alignment alignment =
            (f.badgeLeft ? Qt::AlignRight : Qt::AlignLeft) | (f.badgeAbove ? Qt::AlignBottom : Qt::AlignTop);
        // The shadow falls one point right and one point down.
        p.setPen(QColor(0, 0, 0, 0xb0));
        p.drawText(box.translated(1, 1), alignment, text);
        p.setPen(Qt::white);
        p.drawText(box, alignment, text);
    }
    if (f.handles) {
        const QImage& handle = image(QStringLiteral("capture_blue_handle"), scale);
        p.setOpacity(double(kHandleOpacity));
        for (const QRectF& h : f.handleRects)
            if (h.intersects(r))
                p.drawImage(h, handle);
        p.setOpacity(1.0);
    }
    if (!f.timerImage.isNull() && f.timerRect.intersects(r)) {
        // A digit made for another scale is resampled rather than repeated pixel for pixel.
        p.setRenderHint(QPainter::SmoothPixmapTransform, f.timerImage.devicePixelRatio() != scale);
        p.drawImage(f.timerRect, f.timerImage);
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    }
    p.setClipping(false);
}
