// A dark panel on the X server, driven through XTest: dragging held below the top of the available
// area, and mouse movements handed to a responder and still seen by its controls. Typing into it and
// its box on screen, cut to its outline, are driven by the capture scenarios.

#include "DarkPanel.h"
#include "ScreenCoordinates.h"
#include "XTestKit.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QToolTip>

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

} // namespace
