// The captures of the real helper as a native Wayland client in the headless sway session, driven as a
// user drives them (the virtual keyboard and pointer), the test in the main application's place
// receiving the PNGs: the full screen, the region with its panel inside the overlay, a click on a
// window, the countdown over the live desktop and the previous area, through the compositor's screen
// copy and through the desktop portal. Each output shows a wallpaper of known pixels. On one road the
// captures start from the helper's shortcuts, which are sway's bindings while the helper runs; the
// session's configuration binds one of the five combinations itself.

#include "HelperLink.h"
#include "TestInput.h"
#include "WaylandKit.h"
#include "wayland/SwayIpc.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>

#include <X11/keysym.h>

#include <csignal>
#include <unistd.h>

#include <map>
#include <optional>

using namespace xpc;
using namespace glimra::test;

namespace {

struct Road {
    const char* name;
    const char* capture; // GLIMRA_WAYLAND_CAPTURE
    // The portal's tool images the layout at its finest scale: a coarser output comes back resampled.
    bool exactOnCoarserOutputs;
    // The captures start from the shortcuts rather than the main application's messages.
    bool shortcuts;
    // The session's outputs for the row (with-session's --outputs grammar); empty: its own.
    const char* layout = "";
};

// The helper's bindings in sway, by key code (the keys 5 and 6 are 14 and 15); the session's
// configuration binds the fifth by its symbol.
const char* const kHelperBindings[] = {"Ctrl+Shift+14", "Ctrl+Mod1+Shift+14", "Mod4+Ctrl+Shift+14",
                                       "Ctrl+Shift+15"};
const QString kUsersOwnBinding = QStringLiteral("Ctrl+Mod1+Shift+1");

// A window of the test's own, of one colour, that counts the presses it receives.
class TestWindow : public QRasterWindow {
public:
    explicit TestWindow(const QString& title) {
        setTitle(title);
        resize(400, 300);
        show();
    }
    int presses = 0;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(QRect(QPoint(), size()), QColor(0x2a7a4b));
    }
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

class WaylandCapture : public HelperTest, public ::testing::WithParamInterface<Road> {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qEnvironmentVariableIsEmpty("SWAYSOCK"))
            GTEST_SKIP() << "needs the Wayland test session";
        const QString entries = QString::fromLatin1(GetParam().layout);
        if (!entries.isEmpty() && !SessionLayout::fits(entries))
            GTEST_SKIP() << "needs a session of as many outputs as " << GetParam().layout;
        if (!entries.isEmpty()) {
            ASSERT_TRUE(layout.emplace(entries).ok());
        }
        HelperTest::SetUp();
        sway = glimra::wayland::SwayIpc::connect();
        ASSERT_TRUE(sway);
        for (const QScreen* s : QGuiApplication::screens())
            pictures[s->name()] = shownPicture(s->name());
        ASSERT_TRUE(input->ok());
        home.setVariable("GLIMRA_WAYLAND_CAPTURE", QString::fromLatin1(GetParam().capture));
        // The pointer rests out of the way: the session hides it then, out of every picture.
        input->motion(1, 1);
        pause(300);
        ASSERT_NO_FATAL_FAILURE(startAsMainApp());
    }

    bool swayCommand(const QString& command) {
        const std::optional<QJsonDocument> reply =
            sway->request(glimra::wayland::SwayIpc::RunCommand, command.toUtf8());
        return reply && reply->array().at(0).toObject().value(QLatin1String("success")).toBool();
    }
    // How many outputs the overlay dims: each shows something else than before the capture began at a
    // third of its size. The overlay is on the layer shell, out of sway's tree of windows.
    int dimmedOutputs() {
        int n = 0;
        for (QScreen* s : QGuiApplication::screens()) {
            const QImage before = desktopBefore_.value(s->name());
            const QPoint probe(before.width() / 3, before.height() / 3);
            n += outputImage(s->name()).pixel(probe) != before.pixel(probe);
        }
        return n;
    }
    // Shown once it dims every output; until then the compositor may still be settling it, and input
    // may miss it.
    void expectOverlay() {
        ASSERT_TRUE(
            waitUntil([&] { return dimmedOutputs() == int(QGuiApplication::screens().size()); }, 10000))
            << "no overlay\n"
            << helperOutput().toStdString();
    }
    void expectNoOverlay() {
        EXPECT_TRUE(waitUntil([&] { return dimmedOutputs() == 0; })) << "the overlay stayed up";
    }
    void beginRegion(bool timed = false) {
        for (QScreen* s : QGuiApplication::screens())
            desktopBefore_[s->name()] = outputImage(s->name());
        if (GetParam().shortcuts) {
            if (timed)
                input->type({XK_Control_L, XK_Shift_L, XK_Super_L}, XK_5);
            else
                input->type({XK_Control_L, XK_Shift_L}, XK_5);
        } else {
            xpc_object_t capture = message(4);
            xpc_dictionary_set_bool(capture, "isTimed", timed);
            main->send(capture);
        }
        expectOverlay();
    }
    void drag(QPoint from, QPoint to) {
        input->motion(from.x(), from.y());
        input->motion(from.x() + 1, from.y());
        input->motion(from.x(), from.y());
        input->button(1, true);
        input->motion((from.x() + to.x()) / 2, (from.y() + to.y()) / 2);
        input->motion(to.x(), to.y());
        pause(150);
        input->button(1, false);
        pause(300); // the panel shows, with the keyboard
    }
    // What an output shows, in its device pixels; what a logical rectangle of it (from its corner) shows.
    QImage wallpaperOf(const QScreen* screen, QRect logical = QRect()) {
        const SessionOutput o = sessionOutput(screen->name());
        const QImage& w = pictures[o.name];
        return logical.isNull() ? w : w.copy(o.pixelsOf(logical.translated(o.logical.topLeft())));
    }
    // A capture's picture against what the output shows: exactly, or where the road resamples the
    // output, nearly.
    ::testing::AssertionResult showsWallpaper(const QImage& image, const QScreen* screen,
                                              QRect logical = QRect()) {
        const QImage expected = wallpaperOf(screen, logical);
        const bool exact = GetParam().exactOnCoarserOutputs || screen->devicePixelRatio() > 1;
        return showsNear(image, expected, QRegion(), exact ? 0 : 96);
    }
    QScreen* screen(int i) const { return QGuiApplication::screens().at(i); }

    std::unique_ptr<glimra::wayland::SwayIpc> sway;
    std::optional<SessionLayout> layout;
    std::map<QString, QImage> pictures; // what each output showed at the start
    std::unique_ptr<TestInput> input = sessionInput();
    QMap<QString, QImage> desktopBefore_; // each output's picture as the last capture began
};

// The full screen is the focused output; the combination the user's configuration binds stays the
// user's, and the helper's bindings go when it quits.
TEST_P(WaylandCapture, FullScreenIsTheFocusedOutputAtItsOwnScale) {
    EXPECT_TRUE(
        helperOutput().contains(QStringLiteral("Could not register the show Glimra hot key.  Error = -9878")))
        << helperOutput().toStdString();
    for (QScreen* s : QGuiApplication::screens()) {
        SCOPED_TRACE(s->name().toStdString());
        ASSERT_TRUE(swayCommand(QStringLiteral("focus output %1").arg(s->name())));
        const size_t before = main->log.messages(8).size();
        if (GetParam().shortcuts)
            input->type({XK_Control_L, XK_Shift_L}, XK_6);
        else
            main->send({{"id", 6}});
        const Screenshot shot = screenshot(before + 1);
        EXPECT_TRUE(shot.title.startsWith(QStringLiteral("Fullscreen "))) << shot.title.toStdString();
        EXPECT_EQ(shot.points, s->geometry().size());
        EXPECT_TRUE(showsWallpaper(shot.image, s));
    }

    main->send({{"id", 10}});
    ASSERT_TRUE(helper->waitForExit(5000));
    // unbindcode takes what it finds and fails otherwise.
    for (const char* keys : kHelperBindings)
        for (const char* flags : {"", "--release "})
            EXPECT_FALSE(swayCommand(QStringLiteral("unbindcode %1%2").arg(flags, keys))) << flags << keys;
    EXPECT_TRUE(swayCommand(QStringLiteral("unbindsym ") + kUsersOwnBinding));
    swayCommand(QStringLiteral("bindsym %1 nop users-own").arg(kUsersOwnBinding));
}

// A drag, the panel inside the overlay where the pointer let go, a typed width and Return: the area
// as the output shows it, at the output's scale; the previous area again with nothing shown.
TEST_P(WaylandCapture, RegionThroughThePanelAndThePreviousAreaAgain) {
    for (QScreen* s : QGuiApplication::screens()) {
        SCOPED_TRACE(s->name().toStdString());
        const QPoint o = s->geometry().topLeft();
        const size_t before = main->log.messages(8).size();
        ASSERT_NO_FATAL_FAILURE(beginRegion());
        drag(o + QPoint(100, 100), o + QPoint(400, 300));
        // 240 points and the 200 dragged make whole device pixels at 1.25, 1.5 and 2.
        for (uint32_t key : {XK_2, XK_4, XK_0, XK_Tab, XK_Return})
            input->tap(key);
        const Screenshot shot = screenshot(before + 1);
        EXPECT_TRUE(shot.title.startsWith(QStringLiteral("Screenshot "))) << shot.title.toStdString();
        EXPECT_EQ(shot.points, QSize(240, 200));
        EXPECT_TRUE(showsWallpaper(shot.image, s, QRect(100, 100, 240, 200)));
        expectNoOverlay();

        main->send({{"id", 5}});
        const Screenshot again = screenshot(before + 2);
        EXPECT_EQ(again.points, QSize(240, 200));
        EXPECT_TRUE(showsWallpaper(again.image, s, QRect(100, 100, 240, 200)));
        EXPECT_EQ(dimmedOutputs(), 0) << "the overlay was shown";
    }
}

// Escape cancels, before and after letting go; the panel's Fullscreen takes the output under it.
TEST_P(WaylandCapture, EscapeCancelsAndThePanelsFullscreenTakesTheOutput) {
    ASSERT_NO_FATAL_FAILURE(beginRegion());
    input->motion(700, 500);
    input->tap(XK_Escape);
    ASSERT_TRUE(main->log.waitForMessages(11, 1)) << helperOutput().toStdString();
    expectNoOverlay();
    ASSERT_NO_FATAL_FAILURE(beginRegion());
    drag({300, 300}, {700, 600});
    input->tap(XK_Escape);
    ASSERT_TRUE(main->log.waitForMessages(11, 2)) << helperOutput().toStdString();
    expectNoOverlay();
    EXPECT_TRUE(main->log.messages(8).empty());
    EXPECT_EQ(helperOutput().count(QStringLiteral("The capture was cancelled")), 2)
        << helperOutput().toStdString();
}

// A click on a window captures it as the user saw it, titled with its name; the countdown leaves the
// desktop to the user (a click reaches the window beneath) and grabs the live area at zero.
TEST_P(WaylandCapture, AClickedWindowAndACountdownOverTheLiveDesktop) {
    // Floating from the start, where it is put: a tiled window would fill the output.
    ASSERT_TRUE(swayCommand(QStringLiteral("for_window [title=\"Glimra test window\"] floating enable, "
                                           "move position 200 150")));
    TestWindow window(QStringLiteral("Glimra test window"));
    std::optional<glimra::wayland::SwayWindow> shown;
    // Floating, and settled at its own size.
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& w : sway->windows().value_or(std::vector<glimra::wayland::SwayWindow>{}))
            if (w.pid == getpid() && w.name == window.title())
                shown = w;
        return shown && shown->floating && shown->content.size() == window.size();
    }));
    pause(300);
    input->motion(1, 1);
    pause(300);
    const QImage seen =
        outputPixels(shown->output).copy(sessionOutput(shown->output).pixelsOf(shown->bounds));

    ASSERT_NO_FATAL_FAILURE(beginRegion());
    input->click(shown->bounds.center().x(), shown->bounds.center().y());
    const Screenshot shot = screenshot(1);
    EXPECT_EQ(shot.title, window.title());
    EXPECT_EQ(shot.points, shown->bounds.size());
    EXPECT_TRUE(showsNear(shot.image, seen, QRegion(), GetParam().exactOnCoarserOutputs ? 0 : 96));
    expectNoOverlay();

    xpc_object_t delay = message(14);
    xpc_dictionary_set_int64(delay, "int64", 2);
    main->send(delay);
    ASSERT_NO_FATAL_FAILURE(beginRegion(true));
    // Right of the window, at whole device pixels at any scale of the rows (1, 1.25, 1.5, 2).
    const QRect area((shown->bounds.right() + 40 + 3) / 4 * 4, 100, 300, 200);
    QElapsedTimer sinceSelection;
    sinceSelection.start();
    drag(area.topLeft(), area.topLeft() + QPoint(area.width(), area.height()));
    input->click(shown->bounds.center().x(), shown->bounds.center().y());
    EXPECT_TRUE(waitUntil([&] { return window.presses > 0; }, 1500)) << "the click did not reach the window";
    EXPECT_EQ(main->log.messages(8).size(), 1u) << "delivered before the countdown ended";
    const Screenshot timed = screenshot(2);
    EXPECT_GE(sinceSelection.elapsed(), 2000);
    EXPECT_EQ(timed.points, area.size());
    EXPECT_TRUE(showsWallpaper(timed.image, screen(0), area));
}

// The overlay lies on the layer shell: a full-screen window beneath it stays full screen whatever ends
// the capture, and sway's "kill" does not reach it. A drag that ends on the other output leaves the
// keyboard with the panel there. The helper paints in software and loads no GL driver for it.
TEST_P(WaylandCapture, OverAFullScreenWindowAndAcrossOutputs) {
    ASSERT_NO_FATAL_FAILURE(beginRegion());
    ASSERT_TRUE(swayCommand(QStringLiteral("kill")));
    pause(300);
    EXPECT_EQ(dimmedOutputs(), int(QGuiApplication::screens().size())) << "the overlay did not stay whole";
    input->tap(XK_Escape);
    ASSERT_TRUE(main->log.waitForMessages(11, 1)) << helperOutput().toStdString();
    expectNoOverlay();

    TestWindow window(QStringLiteral("Glimra full-screen window"));
    window.showFullScreen();
    const auto fullScreen = [&] {
        for (const auto& w : sway->windows().value_or(std::vector<glimra::wayland::SwayWindow>{}))
            if (w.pid == getpid() && w.name == window.title())
                return w.fullscreen;
        return false;
    };
    ASSERT_TRUE(waitUntil(fullScreen));
    input->motion(1, 1);
    pause(300);
    ASSERT_NO_FATAL_FAILURE(beginRegion());
    // From the primary into the output right of it, where the panel opens and takes the keys.
    const QRect primary = QGuiApplication::primaryScreen()->geometry();
    QRect second;
    for (const QScreen* s : QGuiApplication::screens())
        if (s->geometry().left() == primary.right() + 1)
            second = s->geometry();
    ASSERT_FALSE(second.isNull()) << "no output right of the primary";
    drag(second.topLeft() + QPoint(-120, 100), second.topLeft() + QPoint(180, 300));
    for (uint32_t key : {XK_2, XK_5, XK_0, XK_Tab, XK_Return})
        input->tap(key);
    const Screenshot shot = screenshot(1);
    EXPECT_EQ(shot.points, QSize(250, 200));
    expectNoOverlay();
    EXPECT_TRUE(fullScreen()) << "the window left full screen for the overlay";

    QFile maps(QStringLiteral("/proc/%1/maps").arg(helper->pid()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    for (const char* driver : {"libLLVM", "/dri/", "libEGL_mesa"})
        EXPECT_FALSE(mapped.contains(driver)) << driver << " is loaded";
}

// A termination signal ends the helper at once whatever it holds: after a delivered screenshot (and its
// sound), while hunting, with the panel up, during a countdown. Its bindings go with it. The sounds go
// to the session's PipeWire, as on a desktop, which never drains a stream without an output.
TEST_P(WaylandCapture, QuitsAtOnceInEveryState) {
    home.setVariable(QStringLiteral("ALSA_CONFIG_PATH"), QStringLiteral("/usr/share/alsa/alsa.conf"));
    home.setVariable(QStringLiteral("PIPEWIRE_RUNTIME_DIR"), qEnvironmentVariable("XDG_RUNTIME_DIR"));
    helper.reset();
    enum class State { Delivered, Hunting, PanelUp, CountingDown };
    for (const State state : {State::Delivered, State::Hunting, State::PanelUp, State::CountingDown}) {
        SCOPED_TRACE(int(state));
        if (!helper) {
            ASSERT_NO_FATAL_FAILURE(startAsMainApp());
        }
        switch (state) {
        case State::Delivered:
            main->send({{"id", 6}});
            ASSERT_FALSE(screenshot(1).image.isNull());
            break;
        case State::Hunting:
            ASSERT_NO_FATAL_FAILURE(beginRegion());
            break;
        case State::PanelUp:
            ASSERT_NO_FATAL_FAILURE(beginRegion());
            drag({300, 300}, {700, 600});
            break;
        case State::CountingDown:
            ASSERT_NO_FATAL_FAILURE(beginRegion(true));
            drag({300, 300}, {700, 600});
            break;
        }
        QElapsedTimer sinceSignal;
        sinceSignal.start();
        helper->terminate();
        ASSERT_TRUE(helper->waitForExit(5000)) << helperOutput().toStdString();
        std::printf("gone %lld ms after the signal\n", sinceSignal.elapsed());
        EXPECT_LT(sinceSignal.elapsed(), 3000) << helperOutput().toStdString();
        for (const char* keys : {"Ctrl+Shift+14", "Escape"})
            EXPECT_FALSE(swayCommand(QStringLiteral("unbindcode %1").arg(keys)) ||
                         swayCommand(QStringLiteral("unbindsym %1").arg(keys)))
                << keys << " stayed bound";
        if (state != State::Delivered)
            expectNoOverlay();
        helper.reset();
        main.reset();
    }
}

// A helper killed with the overlay up leaves sway its bindings, Escape among them; the next helper lets
// go of them as it starts, and its own shortcut then fires once.
TEST_P(WaylandCapture, AKilledHelpersKeysAreLetGoOfByTheNext) {
    ASSERT_NO_FATAL_FAILURE(beginRegion());
    ::kill(pid_t(helper->pid()), SIGKILL);
    ASSERT_TRUE(helper->waitForExit(5000));
    helper.reset();
    main.reset();
    ASSERT_NO_FATAL_FAILURE(startAsMainApp());
    for (const char* command : {"unbindcode 9", "unbindcode --release 9", "unbindsym Escape"})
        EXPECT_FALSE(swayCommand(QString::fromLatin1(command))) << command << ": still bound";
    input->motion(1, 1);
    input->type({XK_Control_L, XK_Shift_L}, XK_6);
    EXPECT_FALSE(screenshot(1).image.isNull());
    pause(500);
    EXPECT_EQ(main->log.messages(8).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Wayland, WaylandCapture,
                         ::testing::Values(Road{"ScreenCopy", "wlr-screencopy", true, true},
                                           Road{"Portal", "portal", false, false},
                                           // A laptop's panel at 1.5 beside a monitor at 2; then 1.75
                                           // beside a turned one at 1.25.
                                           Road{"ScreenCopyFractional", "wlr-screencopy", true, true,
                                                "1920x1080@1.5 1280x720@2"},
                                           Road{"ScreenCopyFractionalTurned", "wlr-screencopy", true, true,
                                                "1920x1080@1.75 1280x720@1.25,90"},
                                           // Three scales, one output turned left of the primary (in a
                                           // session of three outputs).
                                           Road{"ScreenCopyThreeScales", "wlr-screencopy", true, true,
                                                "1920x1080@1 1280x720@2,90-360,0 1920x1080@1.5+1920,0"}),
                         caseName);

// An output plugged in between captures is captured like the others, at its own scale; on a sway of the
// test's own, whose outputs outlive the test.
TEST_F(HelperTest, AnOutputPluggedInBetweenCapturesIsCapturedAtItsScale) {
    if (qEnvironmentVariableIsEmpty("SWAYSOCK"))
        GTEST_SKIP() << "needs the Wayland test session";
    PrivateSway sway(QStringLiteral("xwayland disable\n"));
    ASSERT_TRUE(sway.start());
    home.setVariable("WAYLAND_DISPLAY", qEnvironmentVariable("XDG_RUNTIME_DIR") + u'/' + sway.display());
    home.setVariable("SWAYSOCK", sway.socketPath());
    ASSERT_NO_FATAL_FAILURE(startAsMainApp());
    main->send({{"id", 6}});
    const Screenshot first = screenshot(1);
    EXPECT_EQ(first.points, first.image.size());

    std::unique_ptr<glimra::wayland::SwayIpc> ipc = glimra::wayland::SwayIpc::connect(sway.socketPath());
    ASSERT_TRUE(ipc);
    for (const char* command : {"create_output", "output HEADLESS-2 mode 1920x1080",
                                "output HEADLESS-2 scale 1.5", "focus output HEADLESS-2"}) {
        const std::optional<QJsonDocument> reply =
            ipc->request(glimra::wayland::SwayIpc::RunCommand, command);
        ASSERT_TRUE(reply && reply->array().at(0).toObject().value(QLatin1String("success")).toBool())
            << command << ": " << (reply ? reply->toJson().toStdString() : std::string());
    }
    pause(1000);
    main->send({{"id", 6}});
    const Screenshot plugged = screenshot(2);
    EXPECT_EQ(plugged.image.size(), QSize(1920, 1080));
    EXPECT_EQ(plugged.points, QSize(1280, 720)) << helperOutput().toStdString();
}

} // namespace
