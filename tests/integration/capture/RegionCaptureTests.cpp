// The region capture of the real helper as a user drives it: shortcuts typed and the mouse moved
// through XTest on Xvfb with openbox, the test in the main application's place receiving the PNGs.
// A drag opens the resize panel; its buttons are found where the panel lays them out.

#include "DarkPanel.h"
#include "HelperLink.h"
#include "ImageCaptureCrosshairResizeWindowController.h"
#include "NSButton.h"
#include "PrivateDisplay.h"
#include "XTestKit.h"
#include "x11/Compositor.h"

#include <QElapsedTimer>

#include <X11/keysym.h>

using namespace xpc;
using namespace glimra::test;

namespace {

const std::initializer_list<xcb_keysym_t> kRegion = {XK_Control_L, XK_Shift_L};
const std::initializer_list<xcb_keysym_t> kTimedRegion = {XK_Control_L, XK_Shift_L, XK_Super_L};
const std::initializer_list<xcb_keysym_t> kPreviousArea = {XK_Control_L, XK_Shift_L, XK_Alt_L};

const QByteArray kOverlayName = "Crosshair capture";

// The centres of the resize panel's controls from its top-left corner, in pixels at one pixel per
// point: the helper lays its panel out the same way.
struct PanelLayout {
    QPoint timer, fullscreen, cancel, capture, lock;
};

const PanelLayout& panelLayout() {
    static const PanelLayout layout = [] {
        ImageCaptureCrosshairResizeWindowController panel;
        const auto centre = [&](QWidget* w) { return w->mapTo(panel.window(), w->rect().center()); };
        return PanelLayout{centre(panel.timerButton()), centre(panel.fullscreenButton()),
                           centre(panel.cancelButton()), centre(panel.captureButton()),
                           centre(panel.lockRatioButton())};
    }();
    return layout;
}

class RegionCapture : public HelperTest {
protected:
    // The helper on x's display, with the test as its connected main application.
    void start(HelperConnection::Answer answer = HelperConnection::Answer::Allow) {
        ASSERT_TRUE(x->ok());
        x->watchMaps();
        startAsMainApp(answer);
    }
    // The overlay's windows (or the others) mapped since the first `since` windows mapped.
    std::vector<xcb_window_t> mappedSince(size_t since, bool overlays = true) {
        std::vector<xcb_window_t> out;
        const std::vector<xcb_window_t> all = x->mapped();
        for (size_t i = since; i < all.size(); ++i)
            if ((x->property(all[i], "WM_NAME") == kOverlayName) == overlays)
                out.push_back(all[i]);
        return out;
    }
    void expectOverlayAfter(size_t since) {
        ASSERT_TRUE(waitUntil([&] { return !mappedSince(since).empty(); }, 10000))
            << "no overlay\n"
            << helperOutput().toStdString();
    }
    void begin(std::initializer_list<xcb_keysym_t> modifiers) {
        const size_t since = x->mapped().size();
        x->type(modifiers, XK_5);
        expectOverlayAfter(since);
    }
    void drag(QPoint from, QPoint to) {
        x->motion(from.x(), from.y());
        x->button(1, true);
        x->motion((from.x() + to.x()) / 2, (from.y() + to.y()) / 2);
        x->motion(to.x(), to.y());
        pause(200); // as a hand holds still before letting go: the overlay shows the last frame
        x->button(1, false);
    }
    // The first selection dragged out, and where the resize panel it opens lies (root pixels).
    QRect selectAndShowPanel(QPoint from, QPoint to, xcb_window_t* window = nullptr) {
        const size_t since = x->mapped().size();
        drag(from, to);
        QRect panel;
        EXPECT_TRUE(waitUntil(
            [&] {
                const std::vector<xcb_window_t> others = mappedSince(since, false);
                if (!others.empty() && window)
                    *window = others.front();
                return !others.empty() && !(panel = x->rootGeometry(others.front())).isEmpty();
            },
            10000))
            << "no resize panel\n"
            << helperOutput().toStdString();
        pause(150); // painted, and taking the keyboard
        return panel;
    }
    // Another window takes the keyboard, as one brought forward with Alt+Tab, or one that steals the
    // focus, does.
    void takeKeyboardAway() {
        const xcb_window_t other = x->map(x->create({QRect(0, 0, 1, 1), 0, false, true, true}));
        xcb_set_input_focus(x->connection(), XCB_INPUT_FOCUS_POINTER_ROOT, other, XCB_CURRENT_TIME);
        ASSERT_TRUE(waitUntil([&] { return x->inputFocus() == other; }));
    }
    // A press on the resize panel gives it the keyboard back.
    void clickToTakeTheKeyboard(xcb_window_t panel, QPoint at) {
        x->click(at.x(), at.y());
        ASSERT_TRUE(waitUntil([&] { return x->inputFocus() == panel; })) << "the keyboard stayed elsewhere";
    }
    // The capture has let go of Escape: other applications get it again.
    void expectEscapeFree() {
        EXPECT_TRUE(waitUntil([&] { return x->canGrab(x->keycode(XK_Escape), 0); }))
            << "Escape is still grabbed\n"
            << helperOutput().toStdString();
    }
    // Ended as cancelled: the main application hears "no" once, nothing is delivered.
    void expectCancelled() {
        ASSERT_TRUE(main->log.waitForMessages(11, 1)) << helperOutput().toStdString();
        EXPECT_FALSE(xpc_dictionary_get_bool(main->log.messages(11).front(), "bool"));
        pause(300);
        EXPECT_EQ(helperOutput().count(QStringLiteral("Error: (null)")), 1) << helperOutput().toStdString();
        EXPECT_TRUE(main->log.messages(8).empty());
        expectEscapeFree();
    }
    std::unique_ptr<XClient> x = std::make_unique<XClient>();
};

// ---- desktops of their own: one screen, a screen left of the primary, mixed scales, a compositor ----

struct Desktop {
    const char* name;
    QSize root{1920, 1080};
    bool twoMonitors = false; // LEFT at native x 0, the primary RIGHT at 1920
    const char* scaleFactors = nullptr;
    const char* compositor = nullptr; // a command line
    QRect drag{100, 100, 300, 200};   // root pixels
    QSize points{300, 200};
};

class RegionCaptureOn : public RegionCapture, public ::testing::WithParamInterface<Desktop> {
protected:
    int depthOf(xcb_window_t w) {
        xcb_get_geometry_reply_t* g =
            xcb_get_geometry_reply(x->connection(), xcb_get_geometry(x->connection(), w), nullptr);
        const int depth = g ? g->depth : 0;
        std::free(g);
        return depth;
    }
};

TEST_P(RegionCaptureOn, DragDeliversTheAreaExactlyAndThePreviousAreaShortcutGrabsItAgain) {
    const Desktop& d = GetParam();
    PrivateDisplay display(d.root);
    ASSERT_TRUE(display.ready() && display.startWindowManager());
    if (d.twoMonitors) {
        ASSERT_TRUE(display.twoMonitors());
    }
    QProcess compositor;
    if (d.compositor) {
        const QStringList command = QString::fromLatin1(d.compositor).split(u' ');
        compositor.setProcessEnvironment(display.environment());
        compositor.start(command.front(), command.mid(1));
        ASSERT_TRUE(compositor.waitForStarted());
    }
    x = std::make_unique<XClient>(display.name());
    ASSERT_TRUE(!d.compositor ||
                waitUntil([&] { return glimra::x11::compositingManagerRuns(x->connection(), 0); }, 10000));
    const QImage desktop = testPattern(d.root, 5);
    x->cover(desktop);
    home.setVariable("DISPLAY", display.name());
    if (d.scaleFactors)
        home.setVariable("QT_SCREEN_SCALE_FACTORS", QString::fromLatin1(d.scaleFactors));
    ASSERT_NO_FATAL_FAILURE(start());

    const size_t since = x->mapped().size();
    ASSERT_NO_FATAL_FAILURE(begin(kRegion));
    // Over the live desktop the overlay is translucent (32 bits deep); otherwise it shows a snapshot.
    EXPECT_EQ(depthOf(mappedSince(since).front()), d.compositor ? 32 : 24);
    const QPoint end = d.drag.topLeft() + QPoint(d.drag.width(), d.drag.height());
    xcb_window_t panelWindow = XCB_NONE;
    const QRect panel = selectAndShowPanel(d.drag.topLeft(), end, &panelWindow);
    // Cut to its box at the scale of the screen it opened on, whatever scale it was made at: not a
    // quarter of it, nor square black corners.
    EXPECT_TRUE(waitUntil([&] { return x->shownPart(panelWindow) == QRect(QPoint(), panel.size()); }))
        << "the panel's shape spans " << x->shownPart(panelWindow).width() << "x"
        << x->shownPart(panelWindow).height() << " of " << panel.width() << "x" << panel.height();
    x->click(end.x(), end.y()); // Capture lies under the pointer
    const Screenshot first = screenshot(1);
    EXPECT_TRUE(first.title.startsWith(QStringLiteral("Screenshot "))) << first.title.toStdString();
    EXPECT_EQ(first.points, d.points);
    // No dimming, crosshair or badge: the screen's pixels exactly.
    EXPECT_TRUE(first.image == desktop.copy(d.drag))
        << "size " << first.image.width() << "x" << first.image.height();
    expectEscapeFree();

    // The same global rectangle again, with no window shown, over a desktop that has changed.
    const QImage changed = testPattern(d.root, 6);
    x->cover(changed);
    ASSERT_TRUE(waitUntil([&] { return x->pixels(d.drag) == changed.copy(d.drag); }));
    const size_t before = x->mapped().size();
    x->type(kPreviousArea, XK_5);
    const Screenshot again = screenshot(2);
    EXPECT_EQ(again.points, d.points);
    EXPECT_TRUE(again.image == changed.copy(d.drag));
    EXPECT_TRUE(mappedSince(before).empty()) << "the overlay was shown";

    compositor.terminate();
    compositor.waitForFinished(5000);
}

INSTANTIATE_TEST_SUITE_P(
    Capture, RegionCaptureOn,
    ::testing::Values(
        Desktop{"OneScreen"},
        // The drag lies on the screen left of the primary: negative global display coordinates.
        Desktop{"ScreenLeftOfThePrimary", {3840, 1080}, true},
        // LEFT at two pixels per point: 600 x 400 pixels are 300 x 200 points.
        Desktop{"MixedScales", {3840, 1080}, true, "LEFT=2;RIGHT=1", nullptr, {200, 200, 600, 400}},
        // The resize panel is made beforehand, hidden, at the scale of the other screen: it opens on
        // the primary at half that scale, and at twice it.
        Desktop{
            "MixedScalesOnThePrimary", {3840, 1080}, true, "LEFT=2;RIGHT=1", nullptr, {2200, 200, 300, 200}},
        Desktop{"MixedScalesOnAFinerPrimary",
                {3840, 1080},
                true,
                "LEFT=1;RIGHT=2",
                nullptr,
                {2200, 200, 600, 400}},
        // Fading on, as many users run it: the overlay must be gone from the grab all the same.
        Desktop{"Compositor", {1920, 1080}, false, nullptr, "picom --backend xrender --fading"}),
    caseName);

// ---- the session's desktop ----

TEST_F(RegionCapture, ClickCapturesTheWindowUnderThePointerTitledWithItsName) {
    glimra::test::XClient display;
    const xcb_window_t w = display.create({QRect(300, 200, 500, 350), 0, true, false});
    display.setString(w, "_NET_WM_NAME", "UTF8_STRING", "Glimra test window");
    display.map(w);
    QRect frame;
    ASSERT_TRUE(waitUntil([&] {
        frame = display.frameRect(w);
        return display.viewable(w) && frame.width() > 500;
    }));
    ASSERT_NO_FATAL_FAILURE(start());
    pause(300); // the window manager has drawn the frame
    const QImage seen = x->pixels(frame);

    ASSERT_NO_FATAL_FAILURE(begin(kRegion));
    x->click(frame.center().x(), frame.center().y());
    const Screenshot shot = screenshot(1);
    EXPECT_EQ(shot.title, QStringLiteral("Glimra test window"));
    EXPECT_EQ(shot.points, frame.size());
    EXPECT_TRUE(shot.image == seen);
    expectEscapeFree();
    display.destroy(w);
}

// With the lock closed at 400 x 300 the height follows a typed width (a stray letter refused); Tab
// applies it, Up and Down step the height (the width following), Return captures what the overlay
// shows. Closing the lock gives the panel back the keyboard another window took.
TEST_F(RegionCapture, TheResizePanelsFieldsResizeTheSelectionAndItsCapture) {
    const QImage desktop = testPattern(QSize(1920, 1080), 8);
    x->cover(desktop);
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(begin(kRegion));
    xcb_window_t panelWindow = XCB_NONE;
    const QRect panel = selectAndShowPanel({100, 400}, {500, 700}, &panelWindow);
    // The overlay shows exactly this selection clear of its dimming: its top row and right column as
    // the desktop has them, the row above and the column beyond dimmed (away from handles and panel).
    const auto shows = [&](const QRect& selection) {
        const QRect top(selection.left() + 10, selection.top(), selection.width() - 20, 1);
        const QRect right(selection.right(), selection.top() + 10, 1, 100);
        return waitUntil([&] {
            return x->pixels(top) == desktop.copy(top) && x->pixels(right) == desktop.copy(right) &&
                   x->pixels(top.translated(0, -1)) != desktop.copy(top.translated(0, -1)) &&
                   x->pixels(right.translated(1, 0)) != desktop.copy(right.translated(1, 0));
        });
    };
    ASSERT_TRUE(shows(QRect(100, 400, 400, 300)));

    ASSERT_NO_FATAL_FAILURE(takeKeyboardAway());
    ASSERT_NO_FATAL_FAILURE(clickToTakeTheKeyboard(panelWindow, panel.topLeft() + panelLayout().lock));
    for (xcb_keysym_t key : {XK_6, XK_4, XK_a, XK_0, XK_Tab})
        x->type({}, key);
    // From its bottom-left corner: the bottom edge stays at 700.
    EXPECT_TRUE(shows(QRect(100, 220, 640, 480))) << helperOutput().toStdString();
    x->type({}, XK_Up);
    EXPECT_TRUE(shows(QRect(100, 219, 641, 481)));
    x->type({}, XK_Down);
    EXPECT_TRUE(shows(QRect(100, 220, 640, 480)));
    x->type({}, XK_Return);
    const Screenshot shot = screenshot(1);
    EXPECT_EQ(shot.points, QSize(640, 480));
    EXPECT_TRUE(shot.image == desktop.copy(100, 220, 640, 480));
}

TEST_F(RegionCapture, FullscreenInThePanelDeliversTheScreenUnderThePointer) {
    const QImage desktop = testPattern(QSize(1920, 1080), 9);
    x->cover(desktop);
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(begin(kRegion));
    const QRect panel = selectAndShowPanel({300, 300}, {700, 600});
    x->click(panel.x() + panelLayout().fullscreen.x(), panel.y() + panelLayout().fullscreen.y());
    const Screenshot shot = screenshot(1);
    EXPECT_TRUE(shot.title.startsWith(QStringLiteral("Fullscreen "))) << shot.title.toStdString();
    EXPECT_EQ(shot.points, QSize(1920, 1080));
    EXPECT_TRUE(shot.image == desktop);
    pause(300);
    EXPECT_EQ(main->log.messages(8).size(), 1u);
    expectEscapeFree();
}

struct Ending {
    const char* name;
    bool inThePanel;
    bool clicksCancel;              // else presses Escape
    bool keyboardTakenAway = false; // and given back to the panel by a click on its background
    bool escapeHeldElsewhere = false;
};

class CancelledRegionCapture : public RegionCapture, public ::testing::WithParamInterface<Ending> {};

// Nothing is delivered and the main application hears "no" once. The panel of a selection that ends
// at the screen's right edge is held on the screen. Escape cancels as soon as the overlay shows,
// whether or not it has the keyboard yet; where another application holds Escape (in one lock state,
// so the capture's grab of the others is let go again), the capture goes on and Escape reaches the
// overlay once it has the keyboard.
TEST_P(CancelledRegionCapture, DeliversNothing) {
    const Ending& ending = GetParam();
    XClient other;
    if (ending.escapeHeldElsewhere) {
        ASSERT_TRUE(other.grab(other.keycode(XK_Escape), XCB_MOD_MASK_LOCK | other.numLockMask()));
    }
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(begin(kRegion));
    if (ending.inThePanel) {
        xcb_window_t panelWindow = XCB_NONE;
        const QRect panel = selectAndShowPanel({1500, 500}, {1915, 800}, &panelWindow);
        EXPECT_EQ(panel.right(), 1919);
        EXPECT_GT(panel.left(), 1500);
        if (ending.keyboardTakenAway) {
            ASSERT_NO_FATAL_FAILURE(takeKeyboardAway());
            ASSERT_NO_FATAL_FAILURE(
                clickToTakeTheKeyboard(panelWindow, {panel.left() + 6, panel.center().y()}));
        }
    }
    if (ending.escapeHeldElsewhere) {
        EXPECT_TRUE(helper->waitForLogLine(QStringLiteral("Could not grab the Escape key")))
            << helperOutput().toStdString();
        ASSERT_TRUE(waitUntil([&] { return x->property(x->inputFocus(), "WM_NAME") == kOverlayName; }));
    }
    if (ending.clicksCancel) {
        const QRect panel = x->rootGeometry(x->mapped().back());
        x->click(panel.x() + panelLayout().cancel.x(), panel.y() + panelLayout().cancel.y());
    } else {
        x->type({}, XK_Escape);
    }
    expectCancelled();
}

INSTANTIATE_TEST_SUITE_P(Capture, CancelledRegionCapture,
                         ::testing::Values(Ending{"EscapeWhileHunting", false, false},
                                           Ending{"EscapeInThePanel", true, false},
                                           Ending{"EscapeInThePanelAfterAnotherWindowTookTheKeyboard", true, false, true},
                                           Ending{"CancelInThePanel", true, true},
                                           Ending{"EscapeHeldByAnotherClient", false, false, false, true}),
                         caseName);

struct Permission {
    const char* name;
    bool heldBack; // else given at once
};

class CaptureInProgress : public RegionCapture, public ::testing::WithParamInterface<Permission> {};

// The region shortcut and the full-screen one at once: the second rings once and starts nothing,
// also while the main application has not answered the first, so no picture of the overlay is ever
// delivered. Escape then cancels the region capture wherever the keyboard is, also before the
// permission arrives, which then shows nothing; the next capture starts as usual.
TEST_P(CaptureInProgress, RefusesAnotherShortcutAndEscapeCancelsIt) {
    const bool heldBack = GetParam().heldBack;
    ASSERT_TRUE(x->watchBells());
    ASSERT_NO_FATAL_FAILURE(
        start(heldBack ? HelperConnection::Answer::Ignore : HelperConnection::Answer::Allow));
    const size_t since = x->mapped().size();
    x->type(kRegion, XK_5);
    x->type(kRegion, XK_6);
    EXPECT_EQ(x->bells(1, std::chrono::seconds(5), std::chrono::milliseconds(300)), 1)
        << helperOutput().toStdString();
    EXPECT_EQ(main->log.messages(3).size(), 1u) << "the second shortcut asked for permission";
    std::vector<xcb_window_t> overlays;
    if (!heldBack) {
        ASSERT_NO_FATAL_FAILURE(expectOverlayAfter(since));
        overlays = mappedSince(since);
    }
    x->type({}, XK_Escape);
    if (heldBack) {
        ASSERT_TRUE(main->log.waitForMessages(11, 1)) << helperOutput().toStdString();
        EXPECT_TRUE(main->answerHeld(true));
    }
    ASSERT_NO_FATAL_FAILURE(expectCancelled());
    pause(300);
    if (heldBack) {
        EXPECT_EQ(x->mapped().size(), since) << "the overlay showed after the capture was cancelled";
    }
    for (const xcb_window_t w : overlays)
        EXPECT_FALSE(x->viewable(w)) << "the overlay stayed up";

    main->answer->store(HelperConnection::Answer::Allow);
    ASSERT_NO_FATAL_FAILURE(begin(kRegion));
    x->type({}, XK_Escape);
    ASSERT_TRUE(main->log.waitForMessages(11, 2)) << helperOutput().toStdString();
    EXPECT_EQ(x->bells(), 1);
    expectEscapeFree();
}

INSTANTIATE_TEST_SUITE_P(Capture, CaptureInProgress,
                         ::testing::Values(Permission{"Given", false}, Permission{"HeldBack", true}),
                         caseName);

TEST_F(RegionCapture, QuittingDuringACaptureCancelsIt) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(begin(kRegion));
    main->send({{"id", 10}});
    ASSERT_TRUE(helper->waitForExit(10000)) << helperOutput().toStdString();
    EXPECT_EQ(helper->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper->exitCode(), 0);
    EXPECT_EQ(helperOutput().count(QStringLiteral("Error: (null)")), 1) << helperOutput().toStdString();
}

enum class TimedBy { Shortcut, Message, AltAtTheClick, PanelsTimer };

struct Timed {
    const char* name;
    TimedBy by;
    bool escapeWithTheKeyboardElsewhere = false; // after the click, another window takes the keyboard
};

class TimedRegionCapture : public RegionCapture, public ::testing::WithParamInterface<Timed> {};

TEST_P(TimedRegionCapture, CountsDownWhileTheDesktopTakesClicksThenDeliversTheArea) {
    const QImage desktop = testPattern(QSize(1920, 1080), 7);
    x->cover(desktop);
    glimra::test::XClient display;
    const xcb_window_t target = display.create({QRect(1000, 600, 200, 200), 0x00aa00});
    const uint32_t mask = XCB_EVENT_MASK_BUTTON_PRESS;
    xcb_change_window_attributes(display.connection(), target, XCB_CW_EVENT_MASK, &mask);
    display.map(target);
    ASSERT_NO_FATAL_FAILURE(start());
    xpc_object_t delay = message(14);
    xpc_dictionary_set_int64(delay, "int64", 2);
    main->send(delay);

    const size_t before = x->mapped().size();
    switch (GetParam().by) {
    case TimedBy::Shortcut:
        x->type(kTimedRegion, XK_5);
        break;
    case TimedBy::Message: {
        xpc_object_t capture = message(4);
        xpc_dictionary_set_bool(capture, "isTimed", true);
        main->send(capture);
        break;
    }
    case TimedBy::AltAtTheClick:
    case TimedBy::PanelsTimer:
        x->type(kRegion, XK_5);
        break;
    }
    ASSERT_NO_FATAL_FAILURE(expectOverlayAfter(before));
    const bool alt = GetParam().by == TimedBy::AltAtTheClick;
    if (alt)
        x->key(XK_Alt_L, true);
    if (GetParam().by == TimedBy::PanelsTimer) {
        const QRect panel = selectAndShowPanel({100, 100}, {400, 300});
        x->click(panel.x() + panelLayout().timer.x(), panel.y() + panelLayout().timer.y());
    } else {
        drag({100, 100}, {400, 300});
    }
    if (alt)
        x->key(XK_Alt_L, false);
    QElapsedTimer sinceSelection;
    sinceSelection.start();

    // The desktop beneath the counting overlay shows undimmed and takes the click.
    pause(500);
    const QRect away(1500, 850, 200, 100);
    EXPECT_TRUE(x->pixels(away) == desktop.copy(away)) << "dimmed during the countdown";
    x->click(1100, 700);
    EXPECT_TRUE(display.waitForButtonPress(1000)) << "the click did not reach the window beneath";
    EXPECT_TRUE(main->log.messages(8).empty()) << "delivered before the countdown ended";

    if (GetParam().escapeWithTheKeyboardElsewhere) {
        display.focus(target);
        x->type({}, XK_Escape);
        ASSERT_NO_FATAL_FAILURE(expectCancelled());
        pause(std::max(0, 2500 - int(sinceSelection.elapsed())));
        EXPECT_TRUE(main->log.messages(8).empty()) << "delivered after Escape";
    } else {
        const Screenshot shot = screenshot(1);
        EXPECT_GE(sinceSelection.elapsed(), 2000);
        EXPECT_EQ(shot.points, QSize(300, 200));
        EXPECT_TRUE(shot.image == desktop.copy(100, 100, 300, 200));
        expectEscapeFree();
    }
    display.destroy(target);
}

INSTANTIATE_TEST_SUITE_P(Capture, TimedRegionCapture,
                         ::testing::Values(Timed{"Shortcut", TimedBy::Shortcut},
                                           Timed{"Message", TimedBy::Message},
                                           Timed{"AltAtTheClick", TimedBy::AltAtTheClick},
                                           Timed{"PanelsTimer", TimedBy::PanelsTimer},
                                           Timed{"EscapeAfterThePanelsTimer", TimedBy::PanelsTimer, true}),
                         caseName);

} // namespace
