#include "NSDrawing.h"

#include <array>

namespace glimra {

namespace {

QSizeF sizeOf(const NSImage* image) {
    return image ? image->size() : QSizeF();
}

// Splits length into a leading part, a middle and a trailing part; the two ends keep their lengths
// while they fit and shrink in proportion when they do not.
std::array<double, 3> split(double length, double lead, double trail) {
    if (lead + trail > length && lead + trail > 0) {
        const double scale = length / (lead + trail);
        lead *= scale;
        trail *= scale;
    }
    return {lead, length - lead - trail, trail};
}

// Visual rows run from the top; in a y-up painter the top row lies at the greatest y.
QRectF band(const QRectF& frame, double fromTop, double height, bool flipped) {
    const double y = flipped ? frame.top() + fromTop : frame.bottom() - fromTop - height;
    return {frame.left(), y, frame.width(), height};
}

class PartPainter {
public:
    PartPainter(QPainter& painter, QPainter::CompositionMode op, double alpha, bool flipped)
        : p_(painter), flipped_(flipped) {
        p_.save();
        p_.setCompositionMode(op);
        p_.setOpacity(p_.opacity() * alpha);
        // Stretched slices are copies of their edge pixels: no filtering keeps them exact.
        p_.setRenderHint(QPainter::SmoothPixmapTransform, false);
    }
    ~PartPainter() { p_.restore(); }

    void draw(const NSImage* image, const QRectF& target) {
        if (!image || target.width() <= 0 || target.height() <= 0)
            return;
        const QPixmap pixmap = image->pixmapForScale(p_.device() ? p_.device()->devicePixelRatioF() : 1.0);
        if (pixmap.isNull())
            return;
        if (flipped_) {
            p_.drawPixmap(target, pixmap, QRectF(pixmap.rect()));
            return;
        }
        p_.save();
        p_.translate(target.left(), target.bottom());
        p_.scale(1, -1);
        p_.drawPixmap(QRectF(0, 0, target.width(), target.height()), pixmap, QRectF(pixmap.rect()));
        p_.restore();
    }

private:
    QPainter& p_;
    bool flipped_;
};

} // namespace

void NSDrawThreePartImage(QPainter& painter, const QRectF& frame, const NSImage* startCap,
                          const NSImage* centerFill, const NSImage* endCap, bool vertical,
                          QPainter::CompositionMode op, double alpha, bool flipped) {
    PartPainter parts(painter, op, alpha, flipped);
    const NSImage* images[] = {startCap, centerFill, endCap};
    if (vertical) {
        const auto [top, middle, bottom] =
            split(frame.height(), sizeOf(startCap).height(), sizeOf(endCap).height());
        const double offsets[] = {0, top, top + middle};
        const double lengths[] = {top, middle, bottom};
        for (int i = 0; i < 3; ++i)
            parts.draw(images[i], band(frame, offsets[i], lengths[i], flipped));
        return;
    }
    const auto [left, middle, right] = split(frame.width(), sizeOf(startCap).width(), sizeOf(endCap).width());
    parts.draw(startCap, QRectF(frame.left(), frame.top(), left, frame.height()));
    parts.draw(centerFill, QRectF(frame.left() + left, frame.top(), middle, frame.height()));
    parts.draw(endCap, QRectF(frame.right() - right, frame.top(), right, frame.height()));
}

void NSDrawNinePartImage(QPainter& painter, const QRectF& frame, const NSImage* topLeftCorner,
                         const NSImage* topEdgeFill, const NSImage* topRightCorner,
                         const NSImage* leftEdgeFill, const NSImage* centerFill, const NSImage* rightEdgeFill,
                         const NSImage* bottomLeftCorner, const NSImage* bottomEdgeFill,
                         const NSImage* bottomRightCorner, QPainter::CompositionMode op, double alpha,
                         bool flipped) {
    PartPainter parts(painter, op, alpha, flipped);
    const auto columns =
        split(frame.width(), sizeOf(topLeftCorner).width(), sizeOf(bottomRightCorner).width());
    const auto rows =
        split(frame.height(), sizeOf(topLeftCorner).height(), sizeOf(bottomRightCorner).height());
    const NSImage* images[3][3] = {{topLeftCorner, topEdgeFill, topRightCorner},
                                   {leftEdgeFill, centerFill, rightEdgeFill},
                                   {bottomLeftCorner, bottomEdgeFill, bottomRightCorner}};
    double fromTop = 0;
    for (int row = 0; row < 3; ++row) {
        const QRectF rowBand = band(frame, fromTop, rows[row], flipped);
        double x = frame.left();
        for (int column = 0; column < 3; ++column) {
            parts.draw(images[row][column], QRectF(x, rowBand.top(), columns[column], rowBand.height()));
            x += columns[column];
        }
        fromTop += rows[row];
    }
}

} // namespace glimra
