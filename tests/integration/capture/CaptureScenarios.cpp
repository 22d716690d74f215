// The captures of the real helper as a user drives them, written once for every desktop: each scenario
// is a table of rows over desktops (X11 on a server of the test's own with openbox, plain, composited,
// on several monitors and at Qt's scales as desktops set them; sway in the session's layouts; KWin and
// GNOME Shell at their session's scale) and runs through the DesktopDriver, the test in the main
// application's place receiving the PNGs. A row whose desktop lacks the scenario's road skips, saying
// why; rows of another session than the one the test runs in skip too.

#include "DarkPanel.h"
#include "DesktopDriver.h"
#include "HelperLink.h"
#include "ImageCaptureCrosshairResizeWindowController.h"
#include "NSButton.h"
#include "PrivateDisplay.h"
#include "WaylandKit.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>

#include <X11/keysym.h>

#include <csignal>

using namespace xpc;
using namespace glimra::test;

namespace {

// ---- The desktops of the rows ----

using K = DesktopKind;
const char* const kTwoMonitors = "LEFT 1920x1080+0+0,*RIGHT 1920x1080+1920+0";
const DesktopSetup kPlain{.name = "Plain"};
const DesktopSetup kComposited{.name = "Composited", .composited = true};
const DesktopSetup kCompositedOverTheRoot{
    .name = "CompositedOverTheRoot", .composited = true, .pictureOnTheRoot = true};
DesktopSetup twoScreens(const char* name, const char* scaling = "") {
    return {.name = name, .layout = kTwoMonitors, .root = {3840, 1080}, .scaling = scaling};
}
// The left screen lies at negative x in global display coordinates.
const DesktopSetup kTwoScreens = twoScreens("TwoScreens");
const DesktopSetup kMixedScales = twoScreens("MixedScales", "QT_SCREEN_SCALE_FACTORS=LEFT=2;RIGHT=1");
const DesktopSetup kFinerPrimary = twoScreens("FinerPrimary", "QT_SCREEN_SCALE_FACTORS=LEFT=1;RIGHT=2");
// Fractional scales as desktops set them: Qt's own factor, and a desktop's 120 dpi.
const DesktopSetup kQtScale{.name = "QtScaleFactorOfOneAndAHalf", .scaling = "QT_SCALE_FACTOR=1.5"};
const DesktopSetup kDpi120{.name = "DesktopAt120Dpi", .scaling = "Xft.dpi=120"};
const DesktopSetup kPrimaryLeft{
    .name = "PrimaryLeft", .layout = "*LEFT 1920x1080+0+0,RIGHT 1920x1080+1920+0", .root = {3840, 1080}};
const DesktopSetup kStacked{
    .name = "Stacked", .layout = "*TOP 1920x1080+0+0,BOTTOM 1920x1080+0+1080", .root = {1920, 2160}};
// A 1920 x 1080 panel that RandR scales by 1.5 shows 2880 x 1620 of the root; the desktop's 144 dpi
// puts one and a half pixels in a point on both screens.
const DesktopSetup kRandRScaled{.name = "RandRScaledBesideAPlainOne",
                                .layout = "*LEFT 2880x1620+0+0,RIGHT 1920x1080+2880+0",
                                .root = {4800, 1620},
                                .scaling = "Xft.dpi=144"};

const DesktopSetup kSway{.name = "Sway", .kind = K::Sway};
const DesktopSetup kSwayPortal{.name = "SwayPortal", .kind = K::Sway, .capture = "portal"};
// A laptop's panel at 1.5 beside a monitor at 2; 1.75 beside a turned one at 1.25; three scales, one
// output turned left of the primary (in a session of three outputs).
const DesktopSetup kSwayFractional{
    .name = "SwayFractional", .kind = K::Sway, .layout = "1920x1080@1.5 1280x720@2"};
const DesktopSetup kSwayTurned{
    .name = "SwayFractionalTurned", .kind = K::Sway, .layout = "1920x1080@1.75 1280x720@1.25,90"};
const DesktopSetup kSwayThreeScales{.name = "SwayThreeScales",
                                    .kind = K::Sway,
                                    .layout = "1920x1080@1 1280x720@2,90-360,0 1920x1080@1.5+1920,0"};
const DesktopSetup kKWin{.name = "KWin", .kind = K::KWin};
const DesktopSetup kGnome{.name = "Gnome", .kind = K::Gnome};

// A row: a desktop, and the scenario's own variation of it.
struct Row {
    const char* name;
    const DesktopSetup* desktop;
    unsigned how = 0;
};
// Printed by its name alone: ctest names each case after it.
void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}
// The row named after its desktop.
Row on(const DesktopSetup& d, unsigned how = 0) {
    return {d.name, &d, how};
}

// The centres of the resize panel's controls from its top-left corner, at one pixel per point: the
// helper lays its panel out the same way.
struct PanelLayout {
    QPoint timer, fullscreen, cancel;
};
const PanelLayout& panelLayout() {
    static const PanelLayout layout = [] {
        ImageCaptureCrosshairResizeWindowController panel;
        const auto centre = [&](QWidget* w) { return w->mapTo(panel.window(), w->rect().center()); };
        return PanelLayout{centre(panel.timerButton()), centre(panel.fullscreenButton()),
                           centre(panel.cancelButton())};
    }();
    return layout;
}

enum class Command { Region, Timed, Previous, FullScreen };

// Skips unless the desktop offers what the scenario needs, saying why.
#define NEEDS(offer)                                                                                         \
    if (const std::string& why = desktop->offers().offer; !why.empty())                                      \
    GTEST_SKIP() << why

class Scenario : public HelperTest, public ::testing::WithParamInterface<Row> {
protected:
    void SetUp() override {
        std::string skip;
        desktop = DesktopDriver::make(*GetParam().desktop, skip);
        if (!desktop)
            GTEST_SKIP() << skip;
        HelperTest::SetUp();
    }
    bool has(unsigned how) const { return GetParam().how & how; }
    bool is(DesktopKind kind) const { return GetParam().desktop->kind == kind; }
    TestInput& in() { return desktop->input(); }
    std::string out() { return helperOutput().toStdString(); }
    qsizetype said(const char* line) { return helperOutput().count(QLatin1String(line)); }

    // The helper on the row's desktop with the test as its connected main application.
    void start(HelperConnection::Answer answer = HelperConnection::Answer::Allow) {
        if (!started) {
            started = desktop->start();
            ASSERT_TRUE(started) << "the desktop did not start";
        }
        desktop->prepare(home);
        if (desktop->mayRefuseTheHelperAtFirst()) {
            // KWin hands its pixels only to the program an entry names, and takes a new entry up within
            // a few seconds; a helper that met a refusal stays with the portal, which gives nothing on
            // this KWin, and starts again.
            const QString refused = QStringLiteral("screenshots go through the desktop portal");
            ASSERT_TRUE(waitUntil(
                [&] {
                    main.reset();
                    mainApp.releaseName(kMainAppName);
                    stopHelper();
                    startAsMainApp(answer);
                    return !waitUntil([&] { return helperOutput().contains(refused); }, 2500);
                },
                20000))
                << out();
        } else {
            ASSERT_NO_FATAL_FAILURE(startAsMainApp(answer));
        }
        desktop->helperStarted(helper->pid());
    }
    // A capture command: by its shortcut where the helper has its own, else by the main application's
    // message.
    void command(Command c, bool byMessage = false) {
        if (byMessage || !desktop->offers().shortcuts.empty()) {
            static const uint64_t ids[] = {4, 4, 5, 6};
            xpc_object_t m = message(ids[int(c)]);
            xpc_dictionary_set_bool(m, "isTimed", c == Command::Timed);
            main->send(m);
        } else if (c == Command::Timed || c == Command::Previous) {
            in().type({XK_Control_L, XK_Shift_L, uint32_t(c == Command::Timed ? XK_Super_L : XK_Alt_L)},
                      XK_5);
        } else {
            in().type({XK_Control_L, XK_Shift_L}, c == Command::FullScreen ? XK_6 : XK_5);
        }
    }
    void begin(Command c = Command::Region, bool byMessage = false) {
        desktop->noteDesktop();
        command(c, byMessage);
        expectOverlay();
    }
    // Up as a user sees it before acting: every screen covered. Until then the desktop may still be
    // settling it, and input may miss it.
    void expectOverlay() {
        ASSERT_TRUE(waitUntil([&] { return desktop->overlayUp(); }, 10000)) << "no whole overlay\n" << out();
    }
    void expectNoOverlay() {
        EXPECT_TRUE(waitUntil([&] { return desktop->overlayGone(); })) << "the overlay stayed up";
    }
    void drag(QPoint from, QPoint to) {
        in().motion(from.x(), from.y());
        in().motion(from.x() + 1, from.y());
        in().motion(from.x(), from.y());
        in().button(1, true);
        in().motion((from.x() + to.x()) / 2, (from.y() + to.y()) / 2);
        in().motion(to.x(), to.y());
        pause(200); // as a hand holds still before letting go: the overlay shows the last frame
        in().button(1, false);
    }
    // The first selection dragged out, and where the resize panel it opens lies where the desktop shows
    // that. Clicked as a hand would, once it shows and has the keyboard: under a fading compositor a
    // click at once after the map was seen to get lost now and then.
    QRect selectAndShowPanel(QPoint from, QPoint to) {
        drag(from, to);
        QRect panel;
        if (!desktop->offers().panelPlace.empty()) {
            pause(300); // the panel shows, with the keyboard
            return panel;
        }
        EXPECT_TRUE(waitUntil([&] { return !(panel = desktop->panel()).isEmpty(); }, 10000)) << out();
        EXPECT_TRUE(waitUntil([&] { return desktop->panelHasKeyboard(); }, 10000)) << "no keyboard";
        pause(150);
        return panel;
    }
    void clickPanel(const QRect& panel, QPoint control) {
        in().click(panel.x() + control.x(), panel.y() + control.y());
    }
    // The capture has let go of Escape: other applications get it again.
    void expectEscapeFree() {
        EXPECT_TRUE(waitUntil([&] { return desktop->escapeFree(); })) << "Escape is still held\n" << out();
    }
    // Ended as cancelled: the main application hears "no" once more, nothing is delivered.
    void expectCancelled(int times = 1) {
        ASSERT_TRUE(main->log.waitForMessages(11, size_t(times))) << out();
        EXPECT_FALSE(xpc_dictionary_get_bool(main->log.messages(11).back(), "bool"));
        pause(300);
        EXPECT_EQ(said("The capture was cancelled"), times) << out();
        EXPECT_TRUE(main->log.messages(8).empty());
        expectEscapeFree();
        expectNoOverlay();
    }
    // How far a capture of s may differ from what s shows: the portal's tool images the layout at its
    // finest scale, so coarser outputs come back resampled.
    int tolerance(const DesktopScreen& s) const {
        double finest = 0;
        for (const DesktopScreen& o : desktop->screens())
            finest = std::max(finest, o.scale);
        return QByteArray(GetParam().desktop->capture) == "portal" && s.scale < finest ? 96 : 0;
    }
    // Whether the screen comes to show expected outside ignored (places of s).
    ::testing::AssertionResult showsFinally(const DesktopScreen& s, const QImage& expected,
                                            const QRegion& ignored = {}) {
        waitUntil([&] { return bool(showsNear(desktop->shown(s), expected, ignored)); }, 3000);
        return showsNear(desktop->shown(s), expected, ignored);
    }
    // What the overlay shows while hunting with the pointer at p: all of the screen dimmed but the
    // crosshair's lines and badge, nothing of earlier frames.
    ::testing::AssertionResult showsHunting(const DesktopScreen& s, QPoint p) {
        const QRegion crosshair = QRegion(p.x() - 4, 0, 7, s.place.height()) +
                                  QRegion(0, p.y() - 5, s.place.width(), 7) +
                                  QRegion(p.x() - 25, p.y() - 25, 80, 80);
        return showsFinally(s, dimmedByTheOverlay(s.picture), crosshair);
    }
    // The same for a selection being refined: the selection clear of the dimming, its handles, the
    // resize panel, nothing else.
    ::testing::AssertionResult showsSelection(const DesktopScreen& s, const QRect& selection,
                                              const QRect& panel) {
        QImage expected = dimmedByTheOverlay(s.picture);
        QPainter(&expected).drawImage(selection.topLeft(), s.picture.copy(selection));
        QRegion handles;
        for (const QPoint corner :
             {selection.topLeft(), selection.topRight() + QPoint(1, 0), selection.bottomLeft() + QPoint(0, 1),
              selection.bottomRight() + QPoint(1, 1)})
            handles += QRect(corner - QPoint(8, 8), QSize(16, 16));
        return showsFinally(s, expected, handles + panel);
    }

    std::unique_ptr<DesktopDriver> desktop;
    bool started = false;
};

#define ROWS(Fixture, Prefix, ...)                                                                           \
    INSTANTIATE_TEST_SUITE_P(Prefix, Fixture, ::testing::ValuesIn(std::vector<Row>{__VA_ARGS__}), caseName)

// ---- Full screen ----

class FullScreen : public Scenario {};
enum { kAtTheEdges = 1, kFromThePanel = 2 };

// The screen under the pointer (the focused output), whole, at its own scale. The left and bottom
// edges of a screen belong to it in screen coordinates (y up): in root pixels the first column of the
// right screen is its own. From the resize panel's Fullscreen, under a compositing manager that fades
// windows out: nothing of the overlay fades into the grab.
TEST_P(FullScreen, IsTheScreenUnderThePointerAtItsOwnScale) {
    if (has(kFromThePanel))
        NEEDS(panelPlace);
    ASSERT_NO_FATAL_FAILURE(start());
    desktop->showPicture(9);
    size_t shots = 0;
    for (const DesktopScreen& s : desktop->screens()) {
        SCOPED_TRACE(s.name.toStdString());
        desktop->focus(s);
        std::vector<QPoint> probes{s.place.center()};
        if (has(kAtTheEdges))
            probes = {QPoint(s.place.left(), s.place.center().y()), s.place.bottomRight()};
        for (const QPoint p : probes) {
            if (has(kAtTheEdges))
                in().motion(p.x(), p.y());
            if (has(kFromThePanel)) {
                ASSERT_NO_FATAL_FAILURE(begin());
                clickPanel(selectAndShowPanel(s.at({300, 300}), s.at({700, 600})), panelLayout().fullscreen);
            } else {
                command(Command::FullScreen);
            }
            const Screenshot shot = screenshot(++shots);
            EXPECT_TRUE(shot.title.startsWith(QStringLiteral("Fullscreen "))) << shot.title.toStdString();
            EXPECT_EQ(shot.points, s.points());
            EXPECT_TRUE(showsNear(shot.image, s.picture, QRegion(), tolerance(s))) << p.x() << "," << p.y();
        }
    }
    pause(300);
    EXPECT_EQ(main->log.messages(8).size(), shots);
    expectEscapeFree();
}

ROWS(FullScreen, X11, on(kPrimaryLeft, kAtTheEdges), {"PrimaryRight", &kTwoScreens, kAtTheEdges},
     on(kStacked, kAtTheEdges), on(kRandRScaled, kAtTheEdges), {"FromThePanel", &kComposited, kFromThePanel});
ROWS(FullScreen, Sway, on(kSway), on(kSwayPortal), on(kSwayFractional), on(kSwayTurned),
     on(kSwayThreeScales));
ROWS(FullScreen, Shells, on(kKWin), on(kGnome));

// ---- A region through the resize panel, then the previous area ----

class Region : public Scenario {};
enum { kWatchTheScreen = 1 };

// On every screen: a drag opens the panel where the pointer let go (cut to its box at the scale of the
// screen it opened on, whatever scale it was made at: not a quarter of it, nor square black corners); a
// typed width (a stray letter refused), Tab, Up and Down step the height from the bottom edge, Return
// captures the screen's pixels exactly, at its scale. The previous area then takes the same rectangle
// again with nothing shown, from a desktop that changed where it can. Watching the screen, it shows the
// last frame alone while hunting and refining, under a compositing manager too.
TEST_P(Region, DraggedThenTypedSizesThenThePreviousAreaAgain) {
    ASSERT_NO_FATAL_FAILURE(start());
    desktop->showPicture(5);
    size_t shots = 0;
    for (const DesktopScreen& s : desktop->screens()) {
        SCOPED_TRACE(s.name.toStdString());
        ASSERT_NO_FATAL_FAILURE(begin());
        if (has(kWatchTheScreen)) {
            for (const QPoint p :
                 {QPoint(300, 200), QPoint(900, 650), QPoint(1500, 300), QPoint(1100, 900)}) {
                in().motion(p.x(), p.y());
                pause(100);
            }
            EXPECT_TRUE(showsHunting(s, {1100, 900}));
        }
        const QRect panel = selectAndShowPanel(s.at({100, 100}), s.at({400, 300}));
        if (desktop->offers().panelPlace.empty()) {
            XClient& x = *desktop->x11Client();
            const xcb_window_t w = x.inputFocus();
            EXPECT_TRUE(waitUntil([&] { return x.shownPart(w) == QRect(QPoint(), panel.size()); }));
        }
        // 240 points and the 200 dragged make whole device pixels at 1.25, 1.5, 1.75 and 2.
        const std::pair<uint32_t, QRect> steps[] = {
            {XK_Tab, {100, 100, 240, 200}}, {XK_Up, {100, 99, 240, 201}}, {XK_Down, {100, 100, 240, 200}}};
        for (const uint32_t key : {XK_2, XK_a, XK_4, XK_0})
            in().tap(key);
        for (const auto& [key, selection] : steps) {
            in().tap(key);
            if (has(kWatchTheScreen)) {
                EXPECT_TRUE(showsSelection(s, selection, panel)) << out();
            }
        }
        in().tap(XK_Return);
        const Screenshot shot = screenshot(++shots);
        EXPECT_TRUE(shot.title.startsWith(QStringLiteral("Screenshot "))) << shot.title.toStdString();
        EXPECT_EQ(shot.points, QSize(240, 200));
        // No dimming, crosshair or badge: the screen's pixels exactly.
        EXPECT_TRUE(showsNear(shot.image, desktop->expected(s, {100, 100, 240, 200}), {}, tolerance(s)));
        expectNoOverlay();
        expectEscapeFree();

        desktop->showPicture(int(6 + shots));
        const int overlays = desktop->overlaysShown();
        command(Command::Previous);
        const Screenshot again = screenshot(++shots);
        EXPECT_EQ(again.points, QSize(240, 200));
        EXPECT_TRUE(showsNear(again.image, desktop->expected(s, {100, 100, 240, 200}), {}, tolerance(s)));
        EXPECT_EQ(desktop->overlaysShown(), overlays) << "the overlay was shown";
        EXPECT_TRUE(desktop->overlayGone()) << "the overlay was shown";
    }
}

ROWS(Region, X11, on(kPlain, kWatchTheScreen), on(kCompositedOverTheRoot, kWatchTheScreen), on(kTwoScreens),
     on(kMixedScales), on(kFinerPrimary), on(kQtScale), on(kDpi120));
ROWS(Region, Sway, on(kSway), on(kSwayPortal), on(kSwayFractional), on(kSwayTurned), on(kSwayThreeScales));
ROWS(Region, Shells, on(kKWin), on(kGnome));

// ---- A window under a click ----

class WindowSnap : public Scenario {};

// A click on a window captures it titled with its name: as the user saw it, or where a compositing
// manager keeps its own pixels, as it is also where another window covers it.
TEST_P(WindowSnap, AClickCapturesTheWindowTitledWithItsName) {
    NEEDS(windowList);
    ASSERT_NO_FATAL_FAILURE(start());
    const DesktopScreen& s = desktop->primary();
    const auto window = desktop->showWindow("Glimra test window", QRect(s.at({300, 200}), QSize(400, 300)));
    ASSERT_FALSE(window->frame.isEmpty());
    ASSERT_NO_FATAL_FAILURE(begin());
    in().click(window->frame.center().x(), window->frame.center().y());
    const Screenshot shot = screenshot(1);
    EXPECT_EQ(shot.title, window->title);
    EXPECT_EQ(shot.points, window->frame.size() / s.placeScale);
    EXPECT_TRUE(window->capturedIn(shot.image, tolerance(s)));
    expectNoOverlay();
    expectEscapeFree();
}

ROWS(WindowSnap, X11, on(kPlain), on(kCompositedOverTheRoot));
ROWS(WindowSnap, Sway, on(kSway), on(kSwayTurned));
ROWS(WindowSnap, Shells, on(kKWin), on(kGnome));

// ---- The countdown ----

class Timed : public Scenario {};
enum { kByMessage = 1, kAltAtTheClick = 2, kPanelsTimer = 4, kEscape = 8 };

// The live desktop beneath the counting overlay shows undimmed and takes clicks: the overlay shows only
// the digit and the selection's outline. At zero the live area is delivered; Escape meanwhile cancels,
// wherever the keyboard is.
TEST_P(Timed, CountsDownWhileTheDesktopTakesClicksThenDeliversTheArea) {
    NEEDS(placedWindows);
    if (has(kPanelsTimer))
        NEEDS(panelPlace);
    ASSERT_NO_FATAL_FAILURE(start());
    desktop->showPicture(7);
    const DesktopScreen& s = desktop->primary();
    const auto window = desktop->showWindow(QStringLiteral("Glimra window beneath"),
                                            QRect(s.at({700, 200}), QSize(300, 200)));
    ASSERT_FALSE(window->frame.isEmpty());
    xpc_object_t delay = message(14);
    xpc_dictionary_set_int64(delay, "int64", 2);
    main->send(delay);

    ASSERT_NO_FATAL_FAILURE(
        begin(has(kAltAtTheClick | kPanelsTimer) ? Command::Region : Command::Timed, has(kByMessage)));
    if (has(kAltAtTheClick))
        in().key(XK_Alt_L, true);
    if (has(kPanelsTimer))
        clickPanel(selectAndShowPanel(s.at({100, 100}), s.at({400, 300})), panelLayout().timer);
    else
        drag(s.at({100, 100}), s.at({400, 300}));
    if (has(kAltAtTheClick))
        in().key(XK_Alt_L, false);
    QElapsedTimer sinceSelection;
    sinceSelection.start();

    pause(500);
    const QRect away =
        s.pixelsOf(QRect(QPoint(s.points().width() - 300, s.points().height() - 150), QSize(200, 100)));
    EXPECT_TRUE(showsNear(desktop->shown(s).copy(away), s.picture.copy(away), {}, 0)) << "dimmed";
    in().click(window->frame.center().x(), window->frame.center().y());
    EXPECT_TRUE(window->pressed(1500)) << "the click did not reach the window beneath";
    EXPECT_TRUE(main->log.messages(8).empty()) << "delivered before the countdown ended";

    if (has(kEscape)) {
        window->takeKeyboard();
        in().tap(XK_Escape);
        ASSERT_NO_FATAL_FAILURE(expectCancelled());
        pause(std::max(0, 2500 - int(sinceSelection.elapsed())));
        EXPECT_TRUE(main->log.messages(8).empty()) << "delivered after Escape";
    } else {
        const Screenshot shot = screenshot(1);
        EXPECT_GE(sinceSelection.elapsed(), 2000);
        EXPECT_EQ(shot.points, QSize(300, 200));
        EXPECT_TRUE(showsNear(shot.image, desktop->expected(s, {100, 100, 300, 200}), {}, tolerance(s)));
        expectEscapeFree();
    }
}

ROWS(Timed, X11, {"Shortcut", &kPlain}, {"Message", &kPlain, kByMessage},
     {"AltAtTheClick", &kPlain, kAltAtTheClick}, {"PanelsTimer", &kPlain, kPanelsTimer},
     {"PanelsTimerComposited", &kComposited, kPanelsTimer},
     {"EscapeAfterThePanelsTimer", &kPlain, kPanelsTimer | kEscape});
ROWS(Timed, Sway, on(kSway), on(kSwayFractional), {"SwayEscape", &kSway, kEscape});
ROWS(Timed, Shells, on(kKWin), on(kGnome));

// ---- Escape and Cancel ----

class Cancel : public Scenario {};
enum { kInThePanel = 1, kCancelButton = 2, kKeyboardTakenAway = 4, kEscapeHeldElsewhere = 8 };

// Nothing is delivered and the main application hears "no" once; the overlay leaves nothing behind, on
// the screen or in the next capture's first frame. Escape cancels as soon as the overlay shows, whether
// or not it has the keyboard yet; a press on the panel gives it the keyboard back from another window;
// where another application holds Escape (in one lock state, so the capture's grab of the others is let
// go again), the capture goes on and Escape reaches the overlay once it has the keyboard.
TEST_P(Cancel, DeliversNothingAndLeavesNothing) {
    if (has(kCancelButton | kKeyboardTakenAway))
        NEEDS(panelPlace);
    if (has(kEscapeHeldElsewhere))
        NEEDS(heldKeys);
    ASSERT_NO_FATAL_FAILURE(start());
    desktop->showPicture(4);
    const DesktopScreen& s = desktop->primary();
    std::unique_ptr<XClient> other;
    if (has(kEscapeHeldElsewhere | kKeyboardTakenAway))
        other = std::make_unique<XClient>(desktop->x11Display()->name());
    ASSERT_TRUE(!has(kEscapeHeldElsewhere) ||
                other->grab(other->keycode(XK_Escape), XCB_MOD_MASK_LOCK | other->numLockMask()));
    ASSERT_NO_FATAL_FAILURE(begin());
    QRect panel;
    if (has(kInThePanel))
        panel = selectAndShowPanel(s.at({1500, 500}), s.at({1915, 800}));
    if (has(kKeyboardTakenAway)) {
        // Another window takes the keyboard, as one brought forward with Alt+Tab, or one that steals the
        // focus, does; a press on the panel's background takes it back.
        other->focus(other->map(other->create({QRect(0, 0, 1, 1), 0, false, true, true})));
        ASSERT_TRUE(waitUntil([&] { return !desktop->panelHasKeyboard(); }));
        in().click(panel.left() + 6, panel.center().y());
        ASSERT_TRUE(waitUntil([&] { return desktop->panelHasKeyboard(); }));
    }
    if (has(kEscapeHeldElsewhere)) {
        EXPECT_TRUE(helper->waitForLogLine(QStringLiteral("Could not grab the Escape key"))) << out();
        XClient& x = *desktop->x11Client();
        ASSERT_TRUE(waitUntil([&] { return x.property(x.inputFocus(), "WM_NAME") == "Crosshair capture"; }));
    }
    if (has(kCancelButton))
        clickPanel(panel, panelLayout().cancel);
    else
        in().tap(XK_Escape);
    ASSERT_NO_FATAL_FAILURE(expectCancelled());
    EXPECT_TRUE(!desktop->offers().screenPixels.empty() || showsFinally(s, s.picture));
    if (desktop->offers().panelPlace.empty()) {
        in().motion(700, 300);
        ASSERT_NO_FATAL_FAILURE(begin());
        EXPECT_TRUE(showsHunting(s, {700, 300}));
    }
}

ROWS(Cancel, X11, {"EscapeWhileHunting", &kPlain}, {"EscapeInThePanel", &kPlain, kInThePanel},
     {"EscapeInThePanelAfterAnotherWindowTookTheKeyboard", &kPlain, kInThePanel | kKeyboardTakenAway},
     {"CancelInThePanel", &kPlain, kInThePanel | kCancelButton},
     {"CancelInThePanelComposited", &kComposited, kInThePanel | kCancelButton},
     {"EscapeHeldByAnotherClient", &kPlain, kEscapeHeldElsewhere});
ROWS(Cancel, Sway, {"EscapeWhileHunting", &kSway}, {"EscapeInThePanel", &kSway, kInThePanel});
ROWS(Cancel, Shells, {"KWinEscapeWhileHunting", &kKWin}, {"GnomeEscapeWhileHunting", &kGnome});

// ---- One capture at a time ----

class OneAtATime : public Scenario {};
enum { kPermissionHeldBack = 1 };

// The region shortcut, then every other capture by shortcut or message: each is refused (one bell where
// the desktop rings them) and starts nothing, also while the main application has not answered the
// first, so no picture of the overlay is ever delivered. Escape then cancels the region capture wherever
// the keyboard is, also before the permission arrives, which then shows nothing; the next capture starts
// as usual.
TEST_P(OneAtATime, RefusesOtherCapturesWhileOneRunsAndEscapeCancelsIt) {
    const bool heldBack = has(kPermissionHeldBack);
    ASSERT_NO_FATAL_FAILURE(
        start(heldBack ? HelperConnection::Answer::Ignore : HelperConnection::Answer::Allow));
    XClient* x = desktop->offers().bell.empty() ? desktop->x11Client() : nullptr;
    ASSERT_TRUE(!x || x->watchBells());
    const int overlays = desktop->overlaysShown();
    desktop->noteDesktop();
    command(Command::Region);
    command(Command::FullScreen);
    command(Command::Timed, true);
    command(Command::Previous, true); // its shortcut rings anyway while there is none
    main->send({{"id", 7}});          // all screens
    constexpr int kRefused = 4;
    EXPECT_TRUE(!x ||
                x->bells(kRefused, std::chrono::seconds(5), std::chrono::milliseconds(300)) == kRefused);
    EXPECT_TRUE(main->log.waitForMessages(3, 1)); // slow to come under the sanitizers
    pause(500);
    EXPECT_EQ(main->log.messages(3).size(), 1u) << "another capture asked for permission";
    if (!heldBack) {
        ASSERT_NO_FATAL_FAILURE(expectOverlay());
    }
    in().tap(XK_Escape);
    if (heldBack) {
        ASSERT_TRUE(main->log.waitForMessages(11, 1)) << out();
        EXPECT_TRUE(main->answerHeld(true));
    }
    ASSERT_NO_FATAL_FAILURE(expectCancelled());
    pause(300);
    EXPECT_TRUE(!heldBack || desktop->overlaysShown() == overlays) << "the overlay showed after the cancel";

    main->answer->store(HelperConnection::Answer::Allow);
    ASSERT_NO_FATAL_FAILURE(begin());
    in().tap(XK_Escape);
    ASSERT_TRUE(main->log.waitForMessages(11, 2)) << out();
    EXPECT_TRUE(!x || x->bells() == kRefused);
    expectEscapeFree();
}

ROWS(OneAtATime, X11, {"Given", &kPlain}, {"HeldBack", &kPlain, kPermissionHeldBack});
ROWS(OneAtATime, Sway, on(kSway));

// ---- The helper's end ----

class Ending : public Scenario {};
enum { kByTerminateMessage = 1 };

// A termination signal (or the main application's terminate message) ends the helper at once whatever
// it holds: after a delivered screenshot (and its sound), while hunting, with the panel up, during a
// countdown; nothing of it stays held. The message cancels a running capture first.
TEST_P(Ending, QuitsAtOnceInEveryStateHoldingNothing) {
    if (is(K::Sway)) {
        // The sounds go to the session's PipeWire, as on a desktop, which never drains a stream
        // without an output.
        home.setVariable(QStringLiteral("ALSA_CONFIG_PATH"), QStringLiteral("/usr/share/alsa/alsa.conf"));
        home.setVariable(QStringLiteral("PIPEWIRE_RUNTIME_DIR"), qEnvironmentVariable("XDG_RUNTIME_DIR"));
    }
    enum class State { Delivered, Hunting, PanelUp, CountingDown };
    for (const State state : {State::Delivered, State::Hunting, State::PanelUp, State::CountingDown}) {
        SCOPED_TRACE(int(state));
        ASSERT_NO_FATAL_FAILURE(start());
        const DesktopScreen& s = desktop->primary();
        if (state == State::Delivered) {
            command(Command::FullScreen, true);
            ASSERT_FALSE(screenshot(1).image.isNull());
        } else {
            ASSERT_NO_FATAL_FAILURE(begin(state == State::CountingDown ? Command::Timed : Command::Region));
        }
        if (state == State::PanelUp)
            selectAndShowPanel(s.at({300, 300}), s.at({700, 600}));
        if (state == State::CountingDown)
            drag(s.at({300, 300}), s.at({700, 600}));
        QElapsedTimer sinceSignal;
        sinceSignal.start();
        has(kByTerminateMessage) ? main->send({{"id", 10}}) : helper->terminate();
        ASSERT_TRUE(helper->waitForExit(5000)) << out();
        EXPECT_LT(sinceSignal.elapsed(), 3000) << out();
        EXPECT_TRUE(!has(kByTerminateMessage) ||
                    (helper->exitStatus() == QProcess::NormalExit && helper->exitCode() == 0 &&
                     said("The capture was cancelled") == (state == State::Delivered ? 0 : 1)))
            << out();
        EXPECT_TRUE(desktop->escapeFree() && desktop->shortcutsFree()) << "keys stayed held";
        if (state != State::Delivered)
            expectNoOverlay();
        helper.reset();
        main.reset();
    }
}

// A helper killed with the overlay up: X frees its grabs and windows with the client at once; sway
// keeps its bindings, Escape among them, and the next helper lets go of them as it starts. Its own
// shortcut then fires once.
TEST_P(Ending, AKilledHelpersKeysAreFreedOrLetGoOfByTheNext) {
    ASSERT_NO_FATAL_FAILURE(start());
    desktop->showPicture(10);
    ASSERT_NO_FATAL_FAILURE(begin());
    ::kill(pid_t(helper->pid()), SIGKILL);
    ASSERT_TRUE(helper->waitForExit(5000));
    if (is(K::X11)) {
        expectEscapeFree();
        EXPECT_TRUE(waitUntil([&] { return desktop->shortcutsFree(); }));
        EXPECT_TRUE(showsFinally(desktop->primary(), desktop->primary().picture));
    }
    helper.reset();
    main.reset();
    ASSERT_NO_FATAL_FAILURE(start());
    expectEscapeFree();
    in().motion(1, 1);
    command(Command::FullScreen);
    EXPECT_FALSE(screenshot(1).image.isNull());
    pause(500);
    EXPECT_EQ(main->log.messages(8).size(), 1u);
}

ROWS(Ending, X11, on(kPlain), {"TerminateMessage", &kPlain, kByTerminateMessage});
ROWS(Ending, Sway, on(kSway));

// ---- The screens change under the overlay (RandR) ----

class ScreensChange : public Scenario {};
enum { kGrowingWhileHunting = 1 };

// The overlay does not follow a change of the screens: the capture ends as cancelled, saying why, and
// the next one covers the new desktop.
TEST_P(ScreensChange, EndsTheCaptureAsCancelled) {
    ASSERT_NO_FATAL_FAILURE(start());
    PrivateDisplay& display = *desktop->x11Display();
    const bool growing = has(kGrowingWhileHunting);
    // Xvfb's one output keeps its mode: xrandr fails, the root changes.
    if (growing)
        display.xrandr({"--fb", "1280x720"});
    pause(300);
    ASSERT_NO_FATAL_FAILURE(begin());
    if (!growing)
        selectAndShowPanel({200, 200}, {600, 500});
    display.xrandr({"--fb", growing ? "1920x1080" : "1280x720"});
    ASSERT_TRUE(main->log.waitForMessages(11, 1)) << out();
    EXPECT_FALSE(xpc_dictionary_get_bool(main->log.messages(11).front(), "bool"));
    EXPECT_EQ(said("The screens changed during the capture; it was cancelled"), 1) << out();
    expectNoOverlay();
    ASSERT_NO_FATAL_FAILURE(begin()); // over the whole new root
    EXPECT_TRUE(main->log.messages(8).empty());
}

ROWS(ScreensChange, X11, {"ShrinkingUnderThePanel", &kPlain},
     {"GrowingWhileHunting", &kPlain, kGrowingWhileHunting});

// ---- Across screens, over a full-screen window, at the desktop's edges ----

class AcrossScreens : public Scenario {};

// A drag from one screen into the one right of it: typed sizes and Return reach the panel there at once.
TEST_P(AcrossScreens, TheKeysFollowThePanelOntoTheOtherScreen) {
    ASSERT_NO_FATAL_FAILURE(start());
    const std::vector<DesktopScreen>& screens = desktop->screens();
    const DesktopScreen* right = nullptr;
    for (const DesktopScreen& a : screens)
        for (const DesktopScreen& b : screens)
            if (b.place.left() == a.place.right() + 1 && b.place.top() == a.place.top())
                right = &b;
    ASSERT_TRUE(right) << "no screen right of another";
    ASSERT_NO_FATAL_FAILURE(begin());
    selectAndShowPanel(right->at({-120, 100}), right->at({180, 300}));
    for (uint32_t key : {XK_2, XK_5, XK_0, XK_Tab, XK_Return})
        in().tap(key);
    EXPECT_EQ(screenshot(1).points, QSize(250, 200));
    expectNoOverlay();
}

ROWS(AcrossScreens, X11, on(kTwoScreens));
ROWS(AcrossScreens, Sway, on(kSway), on(kSwayFractional));

class FullScreenWindow : public Scenario {};

// The overlay lies on the layer shell: a full-screen window beneath it stays full screen whatever ends
// the capture (Escape, Return, a countdown), and the compositor's "close window" does not reach it. The
// helper paints in software and loads no GL driver for it.
TEST_P(FullScreenWindow, StaysFullScreenAndTheOverlayWhole) {
    NEEDS(fullScreenWindows);
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NO_FATAL_FAILURE(begin());
    ASSERT_TRUE(desktop->closeFocusedWindow());
    pause(300);
    EXPECT_TRUE(desktop->overlayUp()) << "the overlay did not stay whole";
    in().tap(XK_Escape);
    ASSERT_NO_FATAL_FAILURE(expectCancelled());

    const auto window = desktop->showWindow("Glimra full-screen window", {}, true);
    ASSERT_TRUE(window->fullScreen());
    ASSERT_NO_FATAL_FAILURE(begin());
    in().tap(XK_Escape);
    ASSERT_NO_FATAL_FAILURE(expectCancelled(2));
    EXPECT_TRUE(window->fullScreen()) << "the window left full screen after Escape";
    ASSERT_NO_FATAL_FAILURE(begin());
    drag(desktop->primary().at({100, 100}), desktop->primary().at({400, 300}));
    in().tap(XK_Return);
    EXPECT_FALSE(screenshot(1).image.isNull());
    expectNoOverlay();
    EXPECT_TRUE(window->fullScreen()) << "the window left full screen after a capture";
    xpc_object_t delay = message(14);
    xpc_dictionary_set_int64(delay, "int64", 1);
    main->send(delay);
    ASSERT_NO_FATAL_FAILURE(begin(Command::Timed));
    drag(desktop->primary().at({100, 100}), desktop->primary().at({400, 300}));
    EXPECT_FALSE(screenshot(2).image.isNull());
    EXPECT_TRUE(window->fullScreen()) << "the window left full screen after a countdown";

    const QByteArray mapped = fileContents(QStringLiteral("/proc/%1/maps").arg(helper->pid()));
    for (const char* driver : {"libLLVM", "/dri/", "libEGL_mesa"})
        EXPECT_FALSE(mapped.contains(driver)) << driver << " is loaded";
}

ROWS(FullScreenWindow, X11, on(kPlain));
ROWS(FullScreenWindow, Sway, on(kSway));
ROWS(FullScreenWindow, Shells, on(kKWin));

class Edges : public Scenario {};
enum { kToTheLeftScreensLastColumn = 1 };

// The pointer stops on the desktop's last column and row, which stand for its edges: a drag to the
// corner takes them in, and the panel is held on the screen. The left screen's last column, with the
// primary beyond it, is no edge.
TEST_P(Edges, ADragToTheLastPixelTakesItInWhereItIsTheDesktopsEdge) {
    ASSERT_NO_FATAL_FAILURE(start());
    desktop->showPicture(5);
    const bool toTheLeftScreen = has(kToTheLeftScreensLastColumn);
    const DesktopScreen& s = desktop->screens().at(toTheLeftScreen ? 1 : 0);
    const QRect drag = toTheLeftScreen ? QRect(1000, 400, 919, 100) : QRect(1600, 850, 320, 230);
    ASSERT_NO_FATAL_FAILURE(begin());
    const QRect panel =
        selectAndShowPanel(s.at(drag.topLeft()), s.at(drag.topLeft() + QPoint(drag.width(), drag.height())));
    EXPECT_TRUE(QRect(QPoint(), GetParam().desktop->root).contains(panel)) << "the panel is off the desktop";
    in().tap(XK_Return);
    const Screenshot shot = screenshot(1);
    EXPECT_EQ(shot.points, drag.size());
    EXPECT_TRUE(showsNear(shot.image, desktop->expected(s, drag), {}, 0));
}

ROWS(Edges, X11, {"ToTheDesktopsCorner", &kTwoScreens},
     {"ToTheLeftScreensLastColumn", &kTwoScreens, kToTheLeftScreensLastColumn});

// ---- The desktop's actions ----

const QString kActionsPath = "/app/glimra/GlimraHelper";

class DesktopActions : public Scenario {};

// Bad calls of the desktop's actions are refused with a D-Bus error that names what was wrong, a name
// that would forge a line of the log is escaped, a megabyte of name costs the log no more than a line,
// and the helper goes on (a good call's capture: the installation tests).
TEST_P(DesktopActions, BadCallsAreRefusedByName) {
    ASSERT_NO_FATAL_FAILURE(start());
    const QString activate = QStringLiteral("org.freedesktop.Application.ActivateAction");
    const struct {
        QStringList call;
        const char* error;
        const char* named;
    } refused[] = {
        {{activate, "capture-everything", "[]", "{}"}, "InvalidArgs", "\"capture-everything\""},
        {{activate, "capture-fullscreen", "[<1>]", "{}"},
         "InvalidArgs",
         "\"capture-fullscreen\" takes no parameter"},
        {{"org.freedesktop.Application.Open", "['file:///tmp/picture.png']", "", "{}"},
         "NotSupported",
         "file:///tmp/picture.png"},
        {{activate, "42"}, "InvalidArgs", "ActivateAction takes (sava{sv}), not (s)"},
        {{activate, "'x\\nGlimraHelper[1]: Saved screenshot forged.png'", "[]", "{}"},
         "InvalidArgs",
         "x\\nGlimraHelper[1]"},
    };
    int status = -1;
    for (const auto& bad : refused) {
        const QString output = gdbusCall(kHelperName, bad.call, &status, kActionsPath);
        EXPECT_NE(status, 0);
        EXPECT_TRUE(output.contains(bad.error) && output.contains(bad.named)) << output.toStdString();
    }
    EXPECT_EQ(said("\nGlimraHelper[1]: Saved screenshot forged.png"), 0) << out();
    const qsizetype logged = helperOutput().size();
    QDBusMessage huge = QDBusMessage::createMethodCall(kHelperName, kActionsPath,
                                                       "org.freedesktop.Application", "ActivateAction");
    huge << QString(1 << 20, u'x') << QVariantList() << QVariantMap();
    EXPECT_EQ(QDBusConnection::sessionBus().call(huge).type(), QDBusMessage::ErrorMessage);
    EXPECT_TRUE(waitUntil([&] { return helperOutput().size() > logged; }));
    EXPECT_LT(helperOutput().size() - logged, 1000);
    gdbusCall(kHelperName, {"org.freedesktop.Application.Activate", "{}"}, &status, kActionsPath);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(main->log.messages(8).empty()) << "a refused call captured";
    EXPECT_TRUE(helper->isRunning());
}

ROWS(DesktopActions, X11, on(kPlain));

// ---- An output plugged in (sway) ----

// An output plugged in between captures is captured like the others, at its own scale; on a sway of the
// test's own, whose outputs outlive the test.
TEST_F(HelperTest, SwayAnOutputPluggedInBetweenCapturesIsCapturedAtItsScale) {
    if (qEnvironmentVariableIsEmpty("SWAYSOCK"))
        GTEST_SKIP() << "runs in the sway session (scripts/with-session --wayland)";
    PrivateSway sway(QStringLiteral("xwayland disable\n"));
    ASSERT_TRUE(sway.start());
    home.setVariable("WAYLAND_DISPLAY", qEnvironmentVariable("XDG_RUNTIME_DIR") + u'/' + sway.display());
    home.setVariable("SWAYSOCK", sway.socketPath());
    ASSERT_NO_FATAL_FAILURE(startAsMainApp());
    main->send({{"id", 6}});
    const Screenshot first = screenshot(1);
    EXPECT_EQ(first.points, first.image.size());
    const std::unique_ptr<glimra::wayland::SwayIpc> ipc =
        glimra::wayland::SwayIpc::connect(sway.socketPath());
    ASSERT_TRUE(ipc);
    for (const char* command : {"create_output", "output HEADLESS-2 mode 1920x1080",
                                "output HEADLESS-2 scale 1.5", "focus output HEADLESS-2"})
        EXPECT_TRUE(swayCommand(*ipc, QString::fromLatin1(command)));
    pause(1000);
    main->send({{"id", 6}});
    const Screenshot plugged = screenshot(2);
    EXPECT_EQ(plugged.image.size(), QSize(1920, 1080));
    EXPECT_EQ(plugged.points, QSize(1280, 720)) << helperOutput().toStdString();
}

} // namespace
