// The region capture of the real helper as a user drives it: shortcuts typed and the mouse moved
// through XTest on a desktop of the test's own (Xvfb with openbox, and picom where the road is run
// composited), the test in the main application's place receiving the PNGs. What the screen shows is
// read from the root window, which under a compositing manager is the picture it composited. A drag
// opens the resize panel; its buttons are found where the panel lays them out.

#include "DarkPanel.h"
#include "HelperLink.h"
#include "ImageCaptureCrosshairResizeWindowController.h"
#include "NSButton.h"
#include "PrivateDisplay.h"
#include "XTestKit.h"

#include <QElapsedTimer>
#include <QPainter>

#include <algorithm>
#include <csignal>

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

// A desktop of the test's own.
struct Desktop {
    const char* name;
    QSize root{1920, 1080};
    // RandR monitors (PrivateDisplay::monitors), the primary marked '*', split at ','; none: one screen.
    const char* monitors = nullptr;
    // Qt's scale, set as a desktop sets it (PrivateDisplay::scaleQt).
    const char* scaling = nullptr;
    bool composited = false;
    QRect drag{100, 100, 300, 200}; // root pixels
    QSize points{300, 200};
    bool pictureOnTheRoot = false; // else on a window above everything
    bool returnCaptures = false;   // else a click where the drag ended, on Capture
};

const char* const kTwoMonitors = "LEFT 1920x1080+0+0,*RIGHT 1920x1080+1920+0";
const Desktop kPlain{"Plain"};
const Desktop kComposited{"Composited", {1920, 1080}, nullptr, nullptr, true};
// Composited over a root picture the compositing manager cannot paint: it shows what it last painted
// beneath every translucent pixel.
const Desktop kCompositedOverTheRoot{
    "CompositedOverTheRoot", {1920, 1080}, nullptr, nullptr, true, {}, {}, true};

class RegionCapture : public HelperTest {
protected:
    // The helper on a desktop of the test's own showing picture (when given), with the test as its
    // connected main application.
    void startOn(const Desktop& d, const QImage& picture = QImage(),
                 HelperConnection::Answer answer = HelperConnection::Answer::Allow) {
        display = std::make_unique<PrivateDisplay>(d.root);
        ASSERT_TRUE(display->startDesktop(false, d.composited ? kCompositor : QString()));
        if (d.monitors) {
            ASSERT_TRUE(display->monitors(QString::fromLatin1(d.monitors).split(u',')));
        }
        x = std::make_unique<XClient>(display->name());
        ASSERT_TRUE(x->ok());
        // XTest's first key switches the core keyboard over to its device; shortcuts typed right after
        // that switch were seen to miss every passive grab now and then. One harmless key makes it first.
        x->type({}, XK_Shift_L);
        if (!picture.isNull() && d.pictureOnTheRoot)
            x->setRootPicture(picture);
        else if (!picture.isNull())
            x->cover(picture);
        home.setVariable("DISPLAY", display->name());
        QProcessEnvironment scaling;
        if (d.scaling) {
            ASSERT_TRUE(display->scaleQt(QString::fromLatin1(d.scaling), scaling));
        }
        for (const QString& name : scaling.keys())
            home.setVariable(name, scaling.value(name));
        x->watchMaps();
        startAsMainApp(answer);
        helperPid = helper ? uint32_t(helper->pid()) : 0;
    }
    // The overlay's windows (or the helper's others) mapped since the first `since` windows mapped. A
    // compositing manager maps a window of the server's now and then (its overlay window).
    std::vector<xcb_window_t> mappedSince(size_t since, bool overlays = true) {
        std::vector<xcb_window_t> out;
        const std::vector<xcb_window_t> all = x->mapped();
        const QByteArray pid(reinterpret_cast<const char*>(&helperPid), sizeof helperPid);
        for (size_t i = since; i < all.size(); ++i)
            if ((x->property(all[i], "WM_NAME") == kOverlayName) == overlays &&
                (overlays || x->property(all[i], "_NET_WM_PID") == pid))
                out.push_back(all[i]);
        return out;
    }
    // Up as a user sees it before acting: dimming the whole desktop. Under load a second screen's part
    // was seen to map a while after the first, and a press there went to the desktop.
    void expectOverlayAfter(size_t since) {
        ASSERT_TRUE(waitUntil(
            [&] {
                QRegion covered;
                for (const xcb_window_t w : mappedSince(since))
                    if (x->viewable(w))
                        covered += x->rootGeometry(w);
                // Nothing left uncovered: QRegion::contains() is true for any overlap.
                return (QRegion(x->rootGeometry(x->root())) - covered).isEmpty();
            },
            10000))
            << "no overlay over the whole desktop\n"
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
        xcb_window_t shown = XCB_NONE;
        EXPECT_TRUE(waitUntil(
            [&] {
                const std::vector<xcb_window_t> others = mappedSince(since, false);
                if (!others.empty())
                    shown = others.front();
                return !others.empty() && !(panel = x->rootGeometry(others.front())).isEmpty();
            },
            10000))
            << "no resize panel\n"
            << helperOutput().toStdString();
        if (window)
            *window = shown;
        // Clicked as a hand would, once it shows and has the keyboard: under a fading compositor a click
        // at once after the map was seen to get lost now and then.
        EXPECT_TRUE(waitUntil([&] { return x->inputFocus() == shown; }, 10000))
            << "the panel has no keyboard";
        pause(150);
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
        if (waitUntil([&] { return x->canGrab(x->keycode(XK_Escape), 0); }))
            return;
        const std::vector<xcb_window_t> overlays = mappedSince(0);
        ADD_FAILURE() << "Escape is still grabbed, with "
                      << std::count_if(overlays.begin(), overlays.end(),
                                       [&](xcb_window_t w) { return x->viewable(w); })
                      << " overlay window(s) up, " << main->log.messages(8).size() << " screenshot(s) and "
                      << main->log.messages(11).size() << " answer(s) delivered\n"
                      << helperOutput().toStdString();
    }
    // Ended as cancelled: the main application hears "no" once, nothing is delivered.
    void expectCancelled() {
        ASSERT_TRUE(main->log.waitForMessages(11, 1)) << helperOutput().toStdString();
        EXPECT_FALSE(xpc_dictionary_get_bool(main->log.messages(11).front(), "bool"));
        pause(300);
        EXPECT_EQ(helperOutput().count(QStringLiteral("The capture was cancelled")), 1)
            << helperOutput().toStdString();
        EXPECT_TRUE(main->log.messages(8).empty());
        expectEscapeFree();
    }
    // Whether the screen comes to show what the overlay shows while hunting with the pointer at p
    // over desktop: all of it dimmed but the crosshair's lines and badge, nothing of earlier frames.
    ::testing::AssertionResult showsHunting(const QImage& desktop, QPoint p) {
        const QRegion crosshair = QRegion(p.x() - 4, 0, 7, desktop.height()) +
                                  QRegion(0, p.y() - 5, desktop.width(), 7) +
                                  QRegion(p.x() - 25, p.y() - 25, 80, 80);
        return showsFinally(dimmedByTheOverlay(desktop), crosshair);
    }
    // The same for a selection being refined: the selection clear of the dimming, its handles, the
    // resize panel, nothing else.
    ::testing::AssertionResult showsSelection(const QImage& desktop, const QRect& selection,
                                              const QRect& panel) {
        QImage expected = dimmedByTheOverlay(desktop);
        QPainter(&expected).drawImage(selection.topLeft(), desktop.copy(selection));
        QRegion handles;
        for (const QPoint corner :
             {selection.topLeft(), selection.topRight() + QPoint(1, 0), selection.bottomLeft() + QPoint(0, 1),
              selection.bottomRight() + QPoint(1, 1)})
            handles += QRect(corner - QPoint(8, 8), QSize(16, 16));
        return showsFinally(expected, handles + panel);
    }
    // The desktop alone: nothing of the overlay left.
    ::testing::AssertionResult showsDesktop(const QImage& desktop) {
        return showsFinally(desktop, QRegion());
    }
    ::testing::AssertionResult showsFinally(const QImage& expected, const QRegion& ignored) {
        const QRect all(QPoint(0, 0), expected.size());
        if (waitUntil([&] { return showsNear(x->pixels(all), expected, ignored); }, 3000))
            return ::testing::AssertionSuccess();
        return showsNear(x->pixels(all), expected, ignored);
    }

    // What the screen shows now.
    QImage screen() { return x->pixels(QRect(QPoint(0, 0), display->size())); }

    // Declared first, so that it goes last.
    std::unique_ptr<PrivateDisplay> display;
    std::unique_ptr<XClient> x;
    uint32_t helperPid = 0;
};

class RegionCaptureOn : public RegionCapture, public ::testing::WithParamInterface<Desktop> {};

// A drag on two screens to an edge, where the panel is held on the screen: Return captures.
Desktop edgeOfTwoScreens(const char* name, QRect drag) {
    return {name, {3840, 1080}, kTwoMonitors, nullptr, false, drag, drag.size(), false, true};
}

TEST_P(RegionCaptureOn, DragDeliversTheAreaExactlyAndThePreviousAreaShortcutGrabsItAgain) {
    const Desktop& d = GetParam();
    const QImage desktop = testPattern(d.root, 5);
    ASSERT_NO_FATAL_FAILURE(startOn(d, desktop));

    ASSERT_NO_FATAL_FAILURE(begin(kRegion));
    const QPoint end = d.drag.topLeft() + QPoint(d.drag.width(), d.drag.height());
    xcb_window_t panelWindow = XCB_NONE;
    const QRect panel = selectAndShowPanel(d.drag.topLeft(), end, &panelWindow);
    // Cut to its box at the scale of the screen it opened on, whatever scale it was made at: not a
    // quarter of it, nor square black corners.
    EXPECT_TRUE(waitUntil([&] { return x->shownPart(panelWindow) == QRect(QPoint(), panel.size()); }))
        << "the panel's shape spans " << x->shownPart(panelWindow).width() << "x"
        << x->shownPart(panelWindow).height() << " of " << panel.width() << "x" << panel.height();
    if (d.returnCaptures)
        x->type({}, XK_Return);
    else
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
}

INSTANTIATE_TEST_SUITE_P(
    Capture, RegionCaptureOn,
    ::testing::Values(
        Desktop{"OneScreen"},
        // The drag lies on the screen left of the primary: negative global display coordinates.
        Desktop{"ScreenLeftOfThePrimary", {3840, 1080}, kTwoMonitors},
        // LEFT at two pixels per point: 600 x 400 pixels are 300 x 200 points.
        Desktop{"MixedScales",
                {3840, 1080},
                kTwoMonitors,
                "QT_SCREEN_SCALE_FACTORS=LEFT=2;RIGHT=1",
                false,
                {200, 200, 600, 400}},
        // The resize panel is made beforehand, hidden, at the scale of the other screen: it
        // opens on the primary at half that scale, and at twice it.
        Desktop{"MixedScalesOnThePrimary",
                {3840, 1080},
                kTwoMonitors,
                "QT_SCREEN_SCALE_FACTORS=LEFT=2;RIGHT=1",
                false,
                {2200, 200, 300, 200}},
        Desktop{"MixedScalesOnAFinerPrimary",
                {3840, 1080},
                kTwoMonitors,
                "QT_SCREEN_SCALE_FACTORS=LEFT=1;RIGHT=2",
                false,
                {2200, 200, 600, 400}},
        // Fractional scales as desktops set them: 450 x 300 pixels are 300 x 200 points at 1.5 (Qt's
        // own factor), 375 x 250 at 1.25 (a desktop's 120 dpi).
        Desktop{"QtScaleFactorOfOneAndAHalf",
                {1920, 1080},
                nullptr,
                "QT_SCALE_FACTOR=1.5",
                false,
                {150, 150, 450, 300}},
        Desktop{"DesktopAt120Dpi", {1920, 1080}, nullptr, "Xft.dpi=120", false, {125, 125, 375, 250}},
        // Fading on, as many users run it: the overlay must be gone from the grab all the same.
        kComposited,
        // The pointer stops on the desktop's last column and row, which stand for its edges: the
        // drag to the corner takes them in. The left screen's last column, with the primary beyond
        // it, is no edge.
        edgeOfTwoScreens("ToTheDesktopsCorner", {3520, 850, 320, 230}),
        edgeOfTwoScreens("ToTheLeftScreensLastColumn", {1000, 400, 919, 100})),
    caseName);

// ---- the main roads, on a plain and on a composited desktop ----

class RegionCaptureRoad : public RegionCapture, public ::testing::WithParamInterface<Desktop> {};

// Where a compositing manager keeps the window's own pixels the capture is the window as it is, also
// where another window covers it; elsewhere it is the window as the user saw it.
TEST_P(RegionCaptureRoad, ClickCapturesTheWindowUnderThePointerTitledWithItsName) {
    ASSERT_NO_FATAL_FAILURE(startOn(GetParam()));
    const xcb_window_t w = x->create({QRect(300, 200, 500, 350), 0, true, false});
    x->setString(w, "_NET_WM_NAME", "UTF8_STRING", "Glimra test window");
    x->map(w);
    // Placed where asked once the window manager is done with it: under load it was seen to show the
    // window at the root's corner first.
    QRect frame;
    ASSERT_TRUE(waitUntil([&] {
        frame = x->frameRect(w);
        return x->viewable(w) && frame.topLeft() == QPoint(300, 200) && frame.width() > 500;
    })) << "the window is at "
        << frame.x() << "," << frame.y();
    const QRect inner = x->rootGeometry(w);
    const xcb_window_t above = x->map(x->create({QRect(700, 400, 200, 200), 0x3366cc}));
    pause(300); // the window manager has drawn the frame
    const QImage seen = x->pixels(frame);

    ASSERT_NO_FATAL_FAILURE(begin(kRegion));
    x->click(frame.center().x(), frame.center().y());
    const Screenshot shot = screenshot(1);
    EXPECT_EQ(shot.title, QStringLiteral("Glimra test window"));
    EXPECT_EQ(shot.points, frame.size());
    if (GetParam().composited) {
        // The frame's decoration shows the window unfocused now that the overlay has the keyboard.
        EXPECT_TRUE(showsPattern(shot.image, inner.translated(-frame.topLeft())))
            << "the window is at " << x->rootGeometry(w).x() << "," << x->rootGeometry(w).y();
    } else {
        EXPECT_TRUE(showsNear(shot.image, seen, QRegion(), 0));
    }
    expectEscapeFree();
    x->destroy(above);
}

// While hunting and dragging the screen shows the last frame alone. With the lock closed at 400 x 300
// the height follows a typed width (a stray letter refused); Tab applies it, Up and Down step the
// height (the width following), Return captures what the overlay shows. Closing the lock gives the
// panel back the keyboard another window took.
TEST_P(RegionCaptureRoad, TheResizePanelsFieldsResizeTheSelectionAndItsCapture) {
    ASSERT_NO_FATAL_FAILURE(startOn(GetParam(), testPattern(QSize(1920, 1080), 8)));
    pause(200);
    const QImage desktop = screen();
    ASSERT_NO_FATAL_FAILURE(begin(kRegion));
    for (const QPoint p : {QPoint(300, 200), QPoint(900, 650), QPoint(1500, 300), QPoint(1100, 900)}) {
        x->motion(p.x(), p.y());
        pause(100);
    }
    EXPECT_TRUE(showsHunting(desktop, {1100, 900}));

    xcb_window_t panelWindow = XCB_NONE;
    const QRect panel = selectAndShowPanel({100, 400}, {500, 700}, &panelWindow);
    ASSERT_TRUE(showsSelection(desktop, QRect(100, 400, 400, 300), panel));
    ASSERT_NO_FATAL_FAILURE(takeKeyboardAway());
    ASSERT_NO_FATAL_FAILURE(clickToTakeTheKeyboard(panelWindow, panel.topLeft() + panelLayout().lock));
    for (xcb_keysym_t key : {XK_6, XK_4, XK_a, XK_0, XK_Tab})
        x->type({}, key);
    // From its bottom-left corner: the bottom edge stays at 700.
    EXPECT_TRUE(showsSelection(desktop, QRect(100, 220, 640, 480), panel)) << helperOutput().toStdString();
    x->type({}, XK_Up);
    EXPECT_TRUE(showsSelection(desktop, QRect(100, 219, 641, 481), panel));
    x->type({}, XK_Down);
    EXPECT_TRUE(showsSelection(desktop, QRect(100, 220, 640, 480), panel));
    x->type({}, XK_Return);
    const Screenshot shot = screenshot(1);
    EXPECT_EQ(shot.points, QSize(640, 480));
    EXPECT_TRUE(shot.image == desktop.copy(100, 220, 640, 480));
}

INSTANTIATE_TEST_SUITE_P(Capture, RegionCaptureRoad, ::testing::Values(kPlain, kCompositedOverTheRoot),
                         caseName);

// X frees a client's grabs and windows with the client: a helper killed with the overlay up leaves
// neither its shortcut nor Escape held, nor anything of the overlay on the screen.
TEST_F(RegionCapture, AKilledHelperLeavesNoKeysAndNoOverlay) {
    const QImage desktop = testPattern(QSize(1920, 1080), 10);
    ASSERT_NO_FATAL_FAILURE(startOn(kPlain, desktop));
    ASSERT_NO_FATAL_FAILURE(begin(kRegion));
    ::kill(pid_t(helper->pid()), SIGKILL);
    ASSERT_TRUE(helper->waitForExit(5000));
    expectEscapeFree();
    EXPECT_TRUE(
        waitUntil([&] { return x->canGrab(x->keycode(XK_5), XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT); }));
    EXPECT_TRUE(showsDesktop(desktop));
}

// A termination signal ends the helper at once whatever it holds: after a delivered screenshot, while
// hunting, with the panel up, during a countdown; nothing of it stays held.
TEST_F(RegionCapture, QuitsAtOnceInEveryState) {
    enum class State { Delivered, Hunting, PanelUp, CountingDown };
    for (const State state : {State::Delivered, State::Hunting, State::PanelUp, State::CountingDown}) {
        SCOPED_TRACE(int(state));
        if (!display) {
            ASSERT_NO_FATAL_FAILURE(startOn(kPlain));
        } else {
            ASSERT_NO_FATAL_FAILURE(startAsMainApp());
            helperPid = uint32_t(helper->pid());
        }
        switch (state) {
        case State::Delivered:
            main->send({{"id", 6}});
            ASSERT_FALSE(screenshot(1).image.isNull());
            break;
        case State::Hunting:
            ASSERT_NO_FATAL_FAILURE(begin(kRegion));
            break;
        case State::PanelUp:
            ASSERT_NO_FATAL_FAILURE(begin(kRegion));
            selectAndShowPanel({300, 300}, {700, 600});
            break;
        case State::CountingDown:
            ASSERT_NO_FATAL_FAILURE(begin(kTimedRegion));
            drag({300, 300}, {700, 600});
            break;
        }
        QElapsedTimer sinceSignal;
        sinceSignal.start();
        helper->terminate();
        ASSERT_TRUE(helper->waitForExit(5000)) << helperOutput().toStdString();
        EXPECT_LT(sinceSignal.elapsed(), 3000) << helperOutput().toStdString();
        expectEscapeFree();
        helper.reset();
        main.reset();
    }
}

// Under a compositing manager that fades windows out: nothing of the overlay fades into the grab.
TEST_F(RegionCapture, FullscreenInThePanelDeliversTheScreenUnderThePointer) {
    const QImage desktop = testPattern(QSize(1920, 1080), 9);
    ASSERT_NO_FATAL_FAILURE(startOn(kComposited, desktop));
    ASSERT_NO_FATAL_FAILURE(begin(kRegion));
    const QRect panel = selectAndShowPanel({300, 300}, {700, 600});
    x->click(panel.x() + panelLayout().fullscreen.x(), panel.y() + panelLayout().fullscreen.y());
    const Screenshot shot = screenshot(1);
    EXPECT_TRUE(shot.title.startsWith(QStringLiteral("Fullscreen "))) << shot.title.toStdString();
    EXPECT_EQ(shot.points, QSize(1920, 1080));
    EXPECT_TRUE(showsNear(shot.image, desktop, QRegion(), 0));
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
    const Desktop* desktop = &kPlain;
};

class CancelledRegionCapture : public RegionCapture, public ::testing::WithParamInterface<Ending> {};

// Nothing is delivered and the main application hears "no" once; the overlay leaves nothing behind,
// on the screen or in the next capture's first frame. The panel of a selection that ends at the
// screen's right edge is held on the screen. Escape cancels as soon as the overlay shows, whether or
// not it has the keyboard yet; where another application holds Escape (in one lock state, so the
// capture's grab of the others is let go again), the capture goes on and Escape reaches the overlay
// once it has the keyboard.
TEST_P(CancelledRegionCapture, DeliversNothing) {
    const Ending& ending = GetParam();
    const QImage desktop = testPattern(QSize(1920, 1080), 4);
    ASSERT_NO_FATAL_FAILURE(startOn(*ending.desktop, desktop));
    std::unique_ptr<XClient> other;
    if (ending.escapeHeldElsewhere) {
        other = std::make_unique<XClient>(display->name());
        ASSERT_TRUE(other->grab(other->keycode(XK_Escape), XCB_MOD_MASK_LOCK | other->numLockMask()));
    }
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
    ASSERT_NO_FATAL_FAILURE(expectCancelled());
    EXPECT_TRUE(showsDesktop(desktop));

    x->motion(700, 300);
    ASSERT_NO_FATAL_FAILURE(begin(kRegion));
    EXPECT_TRUE(showsHunting(desktop, {700, 300}));
}

INSTANTIATE_TEST_SUITE_P(
    Capture, CancelledRegionCapture,
    ::testing::Values(Ending{"EscapeWhileHunting", false, false}, Ending{"EscapeInThePanel", true, false},
                      Ending{"EscapeInThePanelAfterAnotherWindowTookTheKeyboard", true, false, true},
                      Ending{"CancelInThePanel", true, true},
                      Ending{"CancelInThePanelComposited", true, true, false, false, &kComposited},
                      Ending{"EscapeHeldByAnotherClient", false, false, false, true}),
    caseName);

struct Permission {
    const char* name;
    bool heldBack; // else given at once
};

class CaptureInProgress : public RegionCapture, public ::testing::WithParamInterface<Permission> {};

// The region shortcut, then every other capture by shortcut or message: each rings once and starts
// nothing, also while the main application has not answered the first, so no picture of the overlay
// is ever delivered. Escape then cancels the region capture wherever the keyboard is, also before the
// permission arrives, which then shows nothing; the next capture starts as usual.
TEST_P(CaptureInProgress, RefusesAnotherShortcutAndEscapeCancelsIt) {
    const bool heldBack = GetParam().heldBack;
    ASSERT_NO_FATAL_FAILURE(startOn(
        kPlain, QImage(), heldBack ? HelperConnection::Answer::Ignore : HelperConnection::Answer::Allow));
    ASSERT_TRUE(x->watchBells());
    const size_t since = x->mapped().size();
    x->type(kRegion, XK_5);
    x->type(kRegion, XK_6);
    xpc_object_t timed = message(4);
    xpc_dictionary_set_bool(timed, "isTimed", true);
    main->send(timed);
    main->send({{"id", 5}}); // the previous area: its shortcut rings anyway while there is none
    main->send({{"id", 7}}); // all screens
    constexpr int kRefused = 4;
    EXPECT_EQ(x->bells(kRefused, std::chrono::seconds(5), std::chrono::milliseconds(300)), kRefused)
        << helperOutput().toStdString();
    EXPECT_EQ(main->log.messages(3).size(), 1u) << "another capture asked for permission";
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
        EXPECT_TRUE(mappedSince(since).empty()) << "the overlay showed after the capture was cancelled";
    }
    for (const xcb_window_t w : overlays)
        EXPECT_FALSE(x->viewable(w)) << "the overlay stayed up";

    main->answer->store(HelperConnection::Answer::Allow);
    ASSERT_NO_FATAL_FAILURE(begin(kRegion));
    x->type({}, XK_Escape);
    ASSERT_TRUE(main->log.waitForMessages(11, 2)) << helperOutput().toStdString();
    EXPECT_EQ(x->bells(), kRefused);
    expectEscapeFree();
}

INSTANTIATE_TEST_SUITE_P(Capture, CaptureInProgress,
                         ::testing::Values(Permission{"Given", false}, Permission{"HeldBack", true}),
                         caseName);

TEST_F(RegionCapture, QuittingDuringACaptureCancelsIt) {
    ASSERT_NO_FATAL_FAILURE(startOn(kPlain));
    ASSERT_NO_FATAL_FAILURE(begin(kRegion));
    main->send({{"id", 10}});
    ASSERT_TRUE(helper->waitForExit(10000)) << helperOutput().toStdString();
    EXPECT_EQ(helper->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper->exitCode(), 0);
    EXPECT_EQ(helperOutput().count(QStringLiteral("The capture was cancelled")), 1)
        << helperOutput().toStdString();
}

struct ScreensChange {
    const char* name;
    QStringList before; // xrandr's arguments before the capture
    QStringList during; // and while the overlay shows
    bool inThePanel;
    QRect after; // the root window then
};

class ScreensChangingRegionCapture : public RegionCapture,
                                     public ::testing::WithParamInterface<ScreensChange> {};

// The overlay does not follow a change of the screens: the capture ends as cancelled, saying why, and
// the next one covers the new desktop.
TEST_P(ScreensChangingRegionCapture, EndsTheCaptureAsCancelled) {
    const ScreensChange& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(startOn(kPlain));
    if (!c.before.isEmpty())
        display->xrandr(c.before); // Xvfb's one output keeps its mode: xrandr fails, the root changes
    pause(300);
    size_t since = x->mapped().size();
    ASSERT_NO_FATAL_FAILURE(begin(kRegion));
    if (c.inThePanel)
        selectAndShowPanel({200, 200}, {600, 500});
    display->xrandr(c.during);
    ASSERT_TRUE(main->log.waitForMessages(11, 1)) << helperOutput().toStdString();
    EXPECT_FALSE(xpc_dictionary_get_bool(main->log.messages(11).front(), "bool"));
    EXPECT_EQ(
        helperOutput().count(QStringLiteral("The screens changed during the capture; it was cancelled")), 1)
        << helperOutput().toStdString();
    EXPECT_TRUE(waitUntil([&] {
        std::vector<xcb_window_t> shown = mappedSince(since);
        const std::vector<xcb_window_t> panel = mappedSince(since, false);
        shown.insert(shown.end(), panel.begin(), panel.end());
        return std::none_of(shown.begin(), shown.end(), [&](xcb_window_t w) { return x->viewable(w); });
    })) << "the overlay or the panel still shows";

    since = x->mapped().size();
    ASSERT_NO_FATAL_FAILURE(begin(kRegion));
    EXPECT_EQ(x->rootGeometry(mappedSince(since).front()), c.after);
    EXPECT_TRUE(main->log.messages(8).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Capture, ScreensChangingRegionCapture,
    ::testing::Values(
        ScreensChange{"ShrinkingUnderThePanel", {}, {"--fb", "1280x720"}, true, {0, 0, 1280, 720}},
        ScreensChange{
            "GrowingWhileHunting", {"--fb", "1280x720"}, {"--fb", "1920x1080"}, false, {0, 0, 1920, 1080}}),
    caseName);

enum class TimedBy { Shortcut, Message, AltAtTheClick, PanelsTimer };

struct Timed {
    const char* name;
    TimedBy by;
    const Desktop* desktop = &kPlain;
    bool escapeWithTheKeyboardElsewhere = false; // after the click, another window takes the keyboard
};

class TimedRegionCapture : public RegionCapture, public ::testing::WithParamInterface<Timed> {};

// The live desktop beneath the counting overlay shows undimmed and takes clicks: the overlay shows
// only the digit and the selection's outline.
TEST_P(TimedRegionCapture, CountsDownWhileTheDesktopTakesClicksThenDeliversTheArea) {
    const QImage desktop = testPattern(QSize(1920, 1080), 7);
    ASSERT_NO_FATAL_FAILURE(startOn(*GetParam().desktop, desktop));
    XClient other(display->name());
    const xcb_window_t target = other.create({QRect(1000, 600, 200, 200), 0x00aa00});
    const uint32_t mask = XCB_EVENT_MASK_BUTTON_PRESS;
    xcb_change_window_attributes(other.connection(), target, XCB_CW_EVENT_MASK, &mask);
    other.map(target);
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

    pause(500);
    const QRect away(1500, 850, 200, 100);
    EXPECT_TRUE(x->pixels(away) == desktop.copy(away)) << "dimmed during the countdown";
    x->click(1100, 700);
    EXPECT_TRUE(other.waitForButtonPress(1000)) << "the click did not reach the window beneath";
    EXPECT_TRUE(main->log.messages(8).empty()) << "delivered before the countdown ended";

    if (GetParam().escapeWithTheKeyboardElsewhere) {
        other.focus(target);
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
}

INSTANTIATE_TEST_SUITE_P(
    Capture, TimedRegionCapture,
    ::testing::Values(Timed{"Shortcut", TimedBy::Shortcut}, Timed{"Message", TimedBy::Message},
                      Timed{"AltAtTheClick", TimedBy::AltAtTheClick},
                      Timed{"PanelsTimer", TimedBy::PanelsTimer},
                      Timed{"PanelsTimerComposited", TimedBy::PanelsTimer, &kComposited},
                      Timed{"EscapeAfterThePanelsTimer", TimedBy::PanelsTimer, &kPlain, true}),
    caseName);

} // namespace
