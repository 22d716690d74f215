// Repainting only the damage between two frames must leave exactly the picture a full repaint of the
// second frame gives, at every scale and on both roads (over a snapshot, translucent).

#include "CrosshairOverlayRenderer.h"

#include <QPainter>

#include <gtest/gtest.h>

namespace {

using Mode = OverlayDrawState::Mode;
constexpr CGSize kBounds{240, 180};

struct Step {
    OverlayDrawState state;
    CGPoint pointer;
};

Step idle(double x, double y, uint64_t top, uint64_t bottom) {
    Step s{{}, {x, y}};
    s.state.topNumber = top;
    s.state.bottomNumber = bottom;
    return s;
}

Step withSelection(Mode mode, CGRect selection, CGPoint pointer) {
    Step s{{}, pointer};
    s.state.mode = mode;
    s.state.selection = selection;
    s.state.cropHandleSize = 13;
    s.state.cropHandleCenter = 6;
    return s;
}

QImage digit(int n) {
    QImage image(90, 90, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setBrush(QColor(n * 40 % 256, 30, 200, 180));
    p.drawEllipse(0, 0, 90, 90);
    image.setDevicePixelRatio(2);
    return image;
}

Step countdown(CGRect selection, int n) {
    Step s = withSelection(Mode::Countdown, selection, {5, 5});
    if (n > 0) {
        s.state.timerImage = digit(n);
        s.state.timerDisplayRect =
            NSMakeRect(NSMidX(selection) - 22.5, std::max(0.0, NSMinY(selection) - 65), 45, 45);
    }
    return s;
}

// The scenes a capture goes through, in order.
std::vector<Step> scenes() {
    return {idle(10, 170, 10, 10),
            idle(10.7, 169.2, 10, 10),
            idle(11.2, 150, 11, 30),
            idle(200, 20, 1234, 160),
            idle(235, 3, 1234, 160), // the badge leaves the overlay
            withSelection(Mode::FirstDrag, NSMakeRect(50, 40, 0, 0), {50, 40}),
            withSelection(Mode::FirstDrag, NSMakeRect(50, 40, 30, 20), {80, 60}),
            withSelection(Mode::FirstDrag, NSMakeRect(50, 40, -20, 35), {30, 75}), // crosses the anchor
            withSelection(Mode::FirstDrag, NSMakeRect(50, 40, 60.5, -25.5), {110.5, 14.5}),
            withSelection(Mode::Refining, NSMakeRect(50, 14.5, 60.5, 25.5), {110, 14}),
            withSelection(Mode::Refining, NSMakeRect(52, 14.5, 70, 40), {122, 54}),
            withSelection(Mode::Refining, NSMakeRect(80, 60, 70, 40), {150, 100}),
            countdown(NSMakeRect(80, 60, 70, 40), 0),
            countdown(NSMakeRect(80, 60, 70, 40), 3),
            countdown(NSMakeRect(80, 60, 70, 40), 2),
            idle(120, 90, 120, 90)};
}

QImage backdropFor(qreal scale) {
    QImage image(QSize(int(kBounds.width * scale), int(kBounds.height * scale)), QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 7 & 0xff, y * 5 & 0xff, (x ^ y) & 0xff));
    return image;
}

struct Road {
    const char* name;
    qreal scale;
    bool snapshot;
    bool outline;
};

class Damage : public ::testing::TestWithParam<Road> {
protected:
    CrosshairOverlayRenderer renderer{QStringLiteral(GLIMRA_CROSSHAIR_IMAGES_DIR)};

    QImage canvas() const {
        QImage image = backdropFor(GetParam().scale).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(GetParam().scale);
        image.fill(Qt::transparent);
        return image;
    }
    OverlayFrame frame(const Step& s) {
        return makeOverlayFrame(s.state, s.pointer, kBounds, renderer.badgeSize(), GetParam().outline);
    }
    void paint(QImage& target, const OverlayFrame& f, const std::vector<QRectF>& rects) {
        const QImage backdrop = GetParam().snapshot ? backdropFor(GetParam().scale) : QImage();
        QPainter p(&target);
        std::vector<QRectF> aligned;
        for (const QRectF& r : rects)
            aligned.push_back(
                QRectF(r.toAlignedRect()).intersected(QRectF(0, 0, kBounds.width, kBounds.height)));
        renderer.paint(p, f, QPointF(0, 0), GetParam().scale, backdrop, aligned);
    }
};

TEST_P(Damage, RepaintingTheDamageEqualsAFullRepaint) {
    ASSERT_FALSE(renderer.badgeSize().isEmpty());
    const std::vector<Step> steps = scenes();
    QImage incremental = canvas();
    OverlayFrame previous = frame(steps.front());
    paint(incremental, previous, {QRectF(0, 0, kBounds.width, kBounds.height)});
    for (std::size_t i = 1; i < steps.size(); ++i) {
        const OverlayFrame next = frame(steps[i]);
        paint(incremental, next, overlayFrameDamage(previous, next));
        previous = next;
        QImage full = canvas();
        paint(full, next, {QRectF(0, 0, kBounds.width, kBounds.height)});
        EXPECT_TRUE(full == incremental) << "scene " << i;
    }
}

TEST_P(Damage, AFrameLikeThePreviousOneRepaintsNothing) {
    for (const Step& s : scenes())
        EXPECT_TRUE(overlayFrameDamage(frame(s), frame(s)).empty());
}

INSTANTIATE_TEST_SUITE_P(Roads, Damage,
                         ::testing::Values(Road{"Snapshot1x", 1, true, false},
                                           Road{"Snapshot2x", 2, true, false},
                                           Road{"Translucent1x", 1, false, false},
                                           Road{"Translucent2x", 2, false, false},
                                           Road{"SnapshotCountdownOutline", 1, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct Badge {
    const char* name;
    CGPoint pointer; // y up, on a desktop of two 1920 x 1080 screens side by side
    bool left, above;
};

class BadgePlacement : public ::testing::TestWithParam<Badge> {};

// Near a screen's right or bottom edge the badge goes to the other side of the pointer, its ring still
// on the crossing and its numbers whole on the pointer's screen, also where the desktop goes on.
TEST_P(BadgePlacement, StaysWholeOnThePointersScreen) {
    CrosshairOverlayRenderer renderer{QStringLiteral(GLIMRA_CROSSHAIR_IMAGES_DIR)};
    const std::vector<QRectF> screens{QRectF(0, 0, 1920, 1080), QRectF(1920, 0, 1920, 1080)};
    const Step s = idle(GetParam().pointer.x, GetParam().pointer.y, 1234, 1234);
    const OverlayFrame f =
        makeOverlayFrame(s.state, s.pointer, {3840, 1080}, renderer.badgeSize(), false, screens);
    const QRectF& screen = f.crossing.x() < 1920 ? screens[0] : screens[1];
    const QRectF numbers = badgeNumbersBox(f).translated(f.badgeRect.topLeft());
    EXPECT_TRUE(screen.contains(numbers)) << numbers.x() << ", " << numbers.y();
    EXPECT_EQ(f.badgeLeft, GetParam().left);
    EXPECT_EQ(f.badgeAbove, GetParam().above);
    const QPointF ring(f.badgeLeft ? f.badgeRect.right() - 21 : f.badgeRect.left() + 21,
                       f.badgeAbove ? f.badgeRect.bottom() - 21 : f.badgeRect.top() + 21);
    EXPECT_EQ(ring, f.crossing);
}

INSTANTIATE_TEST_SUITE_P(OverlayFrame, BadgePlacement,
                         ::testing::Values(Badge{"Middle", {900, 500}, false, false},
                                           Badge{"RightEdgeOfTheLeftScreen", {1900, 500}, true, false},
                                           Badge{"BottomEdge", {500, 10}, false, true},
                                           Badge{"BottomRightCornerOfTheDesktop", {3830, 5}, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

double area(const std::vector<QRectF>& rects) {
    double sum = 0;
    for (const QRectF& r : rects)
        sum += r.width() * r.height();
    return sum;
}

TEST(DamageSize, HuntingRepaintsTheLinesAndBadgesWhileDraggingRepaintsTheChangeOfTheHole) {
    CrosshairOverlayRenderer renderer{QStringLiteral(GLIMRA_CROSSHAIR_IMAGES_DIR)};
    const QSizeF badge = renderer.badgeSize();
    const CGSize big{3840, 2160};
    const auto make = [&](const Step& s) { return makeOverlayFrame(s.state, s.pointer, big, badge, false); };
    // A sideways move keeps the horizontal line: one vertical strip each, and two badges.
    const double sideways = area(overlayFrameDamage(make(idle(500, 500, 1, 1)), make(idle(503, 500, 1, 1))));
    EXPECT_EQ(sideways, 2 * 2160 + 2 * badge.width() * badge.height());
    // Growing a selection by 3 x 2 points repaints the two new strips and the badges, not the hole.
    const auto drag = [&](double w, double h) {
        return make(withSelection(Mode::FirstDrag, NSMakeRect(100, 100, w, h), {100 + w, 100 + h}));
    };
    EXPECT_EQ(area(overlayFrameDamage(drag(2000, 1000), drag(2003, 1002))),
              3 * 1000 + 2003 * 2 + 2 * badge.width() * badge.height());
}

} // namespace
