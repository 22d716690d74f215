// A dark panel on the X server, driven through XTest: no frame whatever style is asked for, dragging
// held below the top of the available area, mouse movements handed to a responder and still seen by
// its controls, typing into its field, and its box on screen as the artwork composes it, cut to its
// outline.

#include "DarkPanel.h"
#include "ScreenCoordinates.h"
#include "TestSupport.h"
#include "ToolkitOnScreen.h"
#include "XTestKit.h"

#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <gtest/gtest.h>

#include <X11/keysym.h>

using glimra::test::waitUntil;

namespace {

struct Responder : DarkPanelProtocol {
    void darkPanelWindowDidMouseMove(DarkPanel* panel, QMouseEvent* event) override {
        lastPanel = panel;
        lastPosition = event->position();
        ++moves;
    }
    DarkPanel* lastPanel = nullptr;
    QPointF lastPosition;
    int moves = 0;
};

class DarkPanelTest : public testing::Test {
protected:
    // A panel at qt (Qt global coordinates), made with a titled, closable, resizable style.
    std::unique_ptr<DarkPanel> makePanel(const QRect& qt) {
        const glimra::ScreenSpace space{QRectF(QGuiApplication::primaryScreen()->geometry())};
        const QRectF s = space.screenFrameFromQt(QRectF(qt));
        auto panel =
            std::make_unique<DarkPanel>(glimra::NSMakeRect(s.x(), s.y(), s.width(), s.height()),
                                        NSTitledWindowMask | NSClosableWindowMask | NSResizableWindowMask);
        panel->makeKeyAndOrderFront();
        EXPECT_TRUE(waitUntil([&] { return panel->isVisible() && panel->geometry() == qt; }));
        return panel;
    }
    void drag(QPoint from, QPoint by) {
        x.motion(from.x(), from.y());
        x.button(1, true);
        for (int step = 1; step <= 10; ++step) {
            x.motion(from.x() + by.x() * step / 10, from.y() + by.y() * step / 10);
            glimra::test::pause(20);
        }
        x.button(1, false);
        glimra::test::pause(100);
    }

    glimra::test::XClient x;
};

// Whatever style is asked for, no window manager frames the panel, and it takes typing without
// becoming the active window.
TEST_F(DarkPanelTest, IsUnframedAndTakesTypingWithoutBecomingTheActiveWindow) {
    // openbox leaves the last active window in the property after it is gone, and the X server hands
    // its id to the next client: it could be the panel's.
    xcb_delete_property(x.connection(), x.root(), x.atom("_NET_ACTIVE_WINDOW"));
    auto panel = makePanel({300, 300, 240, 120});
    const auto window = xcb_window_t(panel->winId());
    EXPECT_TRUE(x.overrideRedirect(window)) << "the window manager would frame it";
    EXPECT_EQ(x.topLevel(window), window) << "reparented into a frame";
    EXPECT_EQ(panel->styleMask(), unsigned(NSUtilityWindowMask | NSNonactivatingPanelMask));

    auto* field = new QLineEdit(panel->contentView());
    field->setGeometry(20, 20, 100, 26);
    field->show();
    panel->makeKeyAndOrderFront();
    field->setFocus();
    ASSERT_TRUE(waitUntil([&] { return field->hasFocus(); }));
    x.tap(XK_4);
    x.tap(XK_2);
    EXPECT_TRUE(waitUntil([&] { return field->text() == QStringLiteral("42"); }))
        << field->text().toStdString();
    EXPECT_NE(x.property32(x.root(), "_NET_ACTIVE_WINDOW"), window);
}

TEST_F(DarkPanelTest, DraggingStopsAtTheTopOfTheAvailableAreaAndNowhereElse) {
    // A dock along the top edge, as a desktop panel would be: the available area starts below it.
    const xcb_window_t dock = x.create({QRect(0, 0, 1920, 40), 0, false, false});
    x.setAtoms(dock, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_DOCK"});
    x.setCardinals(dock, "_NET_WM_STRUT_PARTIAL", {0, 0, 40, 0, 0, 0, 0, 0, 0, 1919, 0, 0});
    x.map(dock);
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_TRUE(waitUntil([&] { return screen->availableGeometry().top() == 40; }))
        << "available area " << screen->availableGeometry().top();

    auto panel = makePanel({400, 300, 200, 100});
    drag({500, 350}, {-30, -500});
    EXPECT_EQ(panel->geometry(), QRect(370, 40, 200, 100));
    drag({470, 90}, {-400, 700});
    EXPECT_EQ(panel->geometry(), QRect(-30, 740, 200, 100)) << "past the left edge and down, unheld";

    x.destroy(dock);
}

// Movements reach the responder, and the control beneath the pointer sees them too: its tool tip shows.
TEST_F(DarkPanelTest, MouseMovementsReachTheResponderExactlyWhileOneIsSetAndTheControlsAlways) {
    auto panel = makePanel({300, 300, 200, 100});
    auto* control = new QWidget(panel->contentView());
    control->setGeometry(120, 10, 60, 30);
    control->setToolTip(QStringLiteral("Lock Aspect Ratio"));
    control->show();
    EXPECT_FALSE(panel->acceptsMouseMovedEvents());
    Responder responder;
    panel->setAuxiliaryMouseMovedResponder(&responder);
    panel->setAuxiliaryMouseMovedResponder(&responder);
    EXPECT_TRUE(panel->acceptsMouseMovedEvents());
    x.motion(350, 340);
    x.motion(360, 350);
    ASSERT_TRUE(waitUntil([&] { return responder.moves > 0 && responder.lastPosition == QPointF(60, 50); }))
        << responder.lastPosition.x() << "," << responder.lastPosition.y();
    EXPECT_EQ(responder.lastPanel, panel.get());
    x.motion(440, 320);
    x.motion(445, 325);
    EXPECT_TRUE(waitUntil([&] { return QToolTip::isVisible() && QToolTip::text() == control->toolTip(); }));
    EXPECT_EQ(responder.lastPosition, QPointF(145, 25));
    QToolTip::hideText();

    panel->setAuxiliaryMouseMovedResponder(nullptr);
    EXPECT_FALSE(panel->acceptsMouseMovedEvents());
    const int moves = responder.moves;
    x.motion(380, 360);
    glimra::test::pause(200);
    EXPECT_EQ(responder.moves, moves);
}

// Without a compositor the window is cut to the box's outline: inside it the artwork shows at 95 %
// over nothing (black), outside it the window beneath shows, not black.
TEST_F(DarkPanelTest, TheBoxIsTheNinePartArtworkAtNinetyFivePercentCutToItsOutline) {
    const QRgb beneath = qRgb(200, 60, 60);
    QImage cover(600, 500, QImage::Format_RGB32);
    cover.fill(beneath);
    x.cover(cover);
    const QRect r(200, 200, 180, 90);
    auto panel = makePanel(r);
    // The artwork whole: corners of 12 points around one-point edges and centre.
    QImage whole(25, 25, QImage::Format_ARGB32_Premultiplied);
    whole.fill(Qt::transparent);
    {
        QPainter p(&whole);
        const char* rows[] = {"top", "middle", "bottom"};
        const char* columns[] = {"left", "middle", "right"};
        for (int row = 0; row < 3; ++row)
            for (int column = 0; column < 3; ++column)
                p.drawImage(
                    QPoint(column == 0   ? 0
                           : column == 1 ? 12
                                         : 13,
                           row == 0   ? 0
                           : row == 1 ? 12
                                      : 13),
                    toolkittest::artwork(QStringLiteral("dark_box_%1_%2").arg(rows[row], columns[column])));
    }
    const auto near = [](QRgb a, QRgb b) {
        return std::abs(qRed(a) - qRed(b)) <= 3 && std::abs(qGreen(a) - qGreen(b)) <= 3 &&
               std::abs(qBlue(a) - qBlue(b)) <= 3;
    };
    // Pixels the artwork leaves partly transparent may go either way.
    QPoint wrong;
    const auto matches = [&] {
        const QImage shown = toolkittest::screenRect(r);
        for (int y = 0; y < r.height(); ++y)
            for (int x = 0; x < r.width(); ++x) {
                const QRgb s = whole.pixel(toolkittest::partPixel(x, r.width(), 12, 12),
                                           toolkittest::partPixel(y, r.height(), 12, 12));
                const auto dim = [](int c) { return int(std::lround(c * 0.95)); };
                const QRgb overNothing = qRgb(dim(qRed(s)), dim(qGreen(s)), dim(qBlue(s)));
                const QRgb p = shown.pixel(x, y);
                const bool ok = qAlpha(s) == 255 ? near(p, overNothing)
                                : qAlpha(s) == 0 ? near(p, beneath)
                                                 : near(p, overNothing) || near(p, beneath);
                if (!ok) {
                    wrong = {x, y};
                    return false;
                }
            }
        return true;
    };
    EXPECT_TRUE(waitUntil(matches, 3000)) << "at " << wrong.x() << "," << wrong.y();
}

} // namespace
