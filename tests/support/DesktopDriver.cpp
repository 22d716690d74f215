#include "DesktopDriver.h"

#include "DesktopInput.h"
#include "PictureSurface.h"
#include "PrivateDisplay.h"
#include "XTestKit.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPainter>
#include <QRasterWindow>
#include <QRegularExpression>
#include <QSaveFile>

#include <X11/keysym.h>

#include <optional>

#include <unistd.h>

namespace glimra::test {

using glimra::wayland::SwayIpc;
using glimra::wayland::SwayWindow;

::testing::AssertionResult ShownWindow::capturedIn(const QImage& image, int tolerance) {
    return showsNear(image, seen, QRegion(), tolerance);
}

const DesktopScreen& DesktopDriver::primary() const {
    return screens_.front();
}

namespace {

const QByteArray kOverlayName = "Crosshair capture";

std::optional<DesktopKind> sessionDesktop() {
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return qEnvironmentVariableIsEmpty("DISPLAY") ? std::nullopt : std::optional(DesktopKind::X11);
    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    if (desktop == QLatin1String("KDE"))
        return DesktopKind::KWin;
    if (desktop == QLatin1String("GNOME"))
        return DesktopKind::Gnome;
    if (!qEnvironmentVariableIsEmpty("SWAYSOCK"))
        return DesktopKind::Sway;
    return std::nullopt;
}

// The sessions of the desktops, by DesktopKind.
const char* const kSessionNames[] = {
    "the X11 session (scripts/with-session)", "the sway session (scripts/with-session --wayland)",
    "the KWin session (scripts/with-session --kwin)", "the GNOME session (scripts/with-session --gnome)"};

// ---- X11: a server of the test's own with openbox ----

// A window of another client, managed by the window manager, showing patternPixel values, with a window
// of one colour over its lower right corner; it counts the presses it gets.
class X11Window final : public ShownWindow {
public:
    X11Window(const QString& display, bool composited) : x(display), composited(composited) {}
    bool pressed(int timeoutMs) override { return x.waitForButtonPress(timeoutMs); }
    void takeKeyboard() override { x.focus(window); }
    // Where a compositing manager keeps the window's own pixels the capture is the window as it is, also
    // where another window covers it; the frame's decoration shows the window unfocused meanwhile.
    ::testing::AssertionResult capturedIn(const QImage& image, int tolerance) override {
        if (composited)
            return showsPattern(image, inner.translated(-frame.topLeft()));
        return ShownWindow::capturedIn(image, tolerance);
    }
    XClient x;
    bool composited;
    xcb_window_t window = XCB_NONE;
    QRect inner;
};

class X11Desktop final : public DesktopDriver {
public:
    explicit X11Desktop(const DesktopSetup& setup) : DesktopDriver(setup), display_(setup.root) {
        offers_.fullScreenWindows =
            "X11's overlay is windows that bypass the window manager: a full-screen window never sees it";
    }

    bool start() override {
        if (!display_.startDesktop(setup_.composited ? kCompositor : QString()))
            return false;
        static const QRegularExpression monitor(QStringLiteral(R"(^(\*?)(\S+) (\d+)x(\d+)\+(\d+)\+(\d+)$)"));
        const QStringList monitors = QString::fromLatin1(setup_.layout).split(u',', Qt::SkipEmptyParts);
        for (const QString& m : monitors) {
            const QRegularExpressionMatch match = monitor.match(m);
            if (!match.hasMatch())
                return false;
            const auto n = [&](int i) { return match.captured(i).toInt(); };
            const DesktopScreen s{match.captured(2), QRect(n(5), n(6), n(3), n(4)), 1, 1, QImage()};
            screens_.insert(match.captured(1).isEmpty() ? screens_.end() : screens_.begin(), s);
        }
        if (screens_.empty())
            screens_.push_back({QString(), QRect(QPoint(), setup_.root), 1, 1, QImage()});
        if (!monitors.isEmpty() && !display_.monitors(monitors))
            return false;
        const QString scaling = QString::fromLatin1(setup_.scaling);
        if (!scaling.isEmpty() && !display_.scaleQt(scaling, scaling_))
            return false;
        for (DesktopScreen& s : screens_) {
            s.scale = s.placeScale = scaleOf(s.name);
            s.picture = QImage(s.place.size(), QImage::Format_RGB32);
        }
        input_ = xtestInput(display_.name());
        if (!x_.ok() || !input_->ok())
            return false;
        // XTest's first key switches the core keyboard over to its device; shortcuts typed right after
        // that switch were seen to miss every passive grab now and then. One harmless key makes it first.
        input_->tap(XK_Shift_L);
        x_.watchMaps();
        return true;
    }

    void prepare(IsolatedHome& home) override {
        home.setVariable(QStringLiteral("DISPLAY"), display_.name());
        for (const QString& name : scaling_.keys())
            home.setVariable(name, scaling_.value(name));
    }
    void focus(const DesktopScreen& s) override {
        input_->motion(s.place.center().x(), s.place.center().y());
    }
    // Over a root picture the compositing manager cannot paint, it shows what it last painted beneath
    // every translucent pixel: the picture is what the screen then shows.
    void showPicture(int variant) override {
        const QImage picture = testPattern(setup_.root, variant);
        const auto shows = [&] { return x_.pixels(primary().place) == picture.copy(primary().place); };
        if (setup_.pictureOnTheRoot) {
            // A compositing manager that has not settled yet may still clear the root once after it is
            // set: set again until it stays.
            for (int i = 0; i < 3; ++i) {
                x_.setRootPicture(picture);
                if (waitUntil(shows, 3000) && (pause(300), shows()))
                    break;
            }
        } else {
            cover_ = x_.cover(picture);
            waitUntil(shows, 3000);
        }
        for (DesktopScreen& s : screens_)
            s.picture = x_.pixels(s.place);
    }
    QImage shown(const DesktopScreen& s) override { return x_.pixels(s.place); }
    bool overlayUp() override {
        // Up as a user sees it before acting: dimming the whole desktop. Under load a second screen's
        // part was seen to map a while after the first, and a press there went to the desktop. Nothing
        // may be left uncovered (QRegion::contains() is true for any overlap).
        QRegion covered;
        for (const xcb_window_t w : helperWindows(true))
            covered += x_.rootGeometry(w);
        return (QRegion(x_.rootGeometry(x_.root())) - covered).isEmpty();
    }
    int overlaysShown() override {
        const std::vector<xcb_window_t>& all = x_.mapped();
        return int(std::count_if(all.begin(), all.end(),
                                 [&](xcb_window_t w) { return x_.property(w, "WM_NAME") == kOverlayName; }));
    }
    bool overlayGone() override { return helperWindows(true).empty() && helperWindows(false).empty(); }
    QRect panel() override {
        const std::vector<xcb_window_t> panels = helperWindows(false);
        return panels.empty() ? QRect() : x_.rootGeometry(panels.back());
    }
    bool panelHasKeyboard() override {
        const std::vector<xcb_window_t> panels = helperWindows(false);
        return !panels.empty() && x_.inputFocus() == panels.back();
    }
    bool escapeFree() override { return x_.canGrab(x_.keycode(XK_Escape), 0); }
    bool shortcutsFree() override {
        return x_.canGrab(x_.keycode(XK_5), XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT);
    }
    std::unique_ptr<ShownWindow> showWindow(const QString& title, const QRect& place, bool) override {
        // The picture goes beneath every window, the test's among them.
        const uint32_t below = XCB_STACK_MODE_BELOW;
        xcb_configure_window(x_.connection(), cover_, XCB_CONFIG_WINDOW_STACK_MODE, &below);
        auto window = std::make_unique<X11Window>(display_.name(), setup_.composited);
        XClient& x = window->x;
        const xcb_window_t w = x.create({place, 0, true, false});
        x.setString(w, "_NET_WM_NAME", "UTF8_STRING", title.toStdString());
        const uint32_t mask = XCB_EVENT_MASK_BUTTON_PRESS;
        xcb_change_window_attributes(x.connection(), w, XCB_CW_EVENT_MASK, &mask);
        x.map(window->window = w);
        // Placed where asked once the window manager is done with it: under load it was seen to show
        // the window at the root's corner first.
        QRect frame;
        EXPECT_TRUE(waitUntil([&] {
            frame = x.frameRect(w);
            return x.viewable(w) && frame.topLeft() == place.topLeft() && frame.width() > place.width();
        }));
        x.map(x.create({QRect(place.bottomRight() - QPoint(99, 99), QSize(200, 200)), 0x3366cc}));
        pause(300); // the window manager has drawn the frame
        window->title = title;
        window->frame = frame;
        window->inner = x.rootGeometry(w);
        window->seen = x_.pixels(frame);
        return window;
    }
    PrivateDisplay* x11Display() override { return &display_; }
    XClient* x11Client() override { return &x_; }

private:
    double scaleOf(const QString& screen) const {
        const QString scaling = QString::fromLatin1(setup_.scaling), value = scaling.section(u'=', 1);
        if (scaling.startsWith(QLatin1String("Xft.dpi=")))
            return value.toDouble() / 96;
        if (scaling.startsWith(QLatin1String("QT_SCALE_FACTOR=")))
            return value.toDouble();
        // QT_SCREEN_SCALE_FACTORS=LEFT=2;RIGHT=1, or none
        const QString factor = value.section(screen + u'=', 1).section(u';', 0, 0);
        return factor.isEmpty() ? 1 : factor.toDouble();
    }
    // The helper's windows shown now: the overlay's, or the others (the resize panel). A compositing
    // manager maps a window of the server's now and then (its overlay window): only the helper's count.
    std::vector<xcb_window_t> helperWindows(bool overlay) {
        std::vector<xcb_window_t> out;
        const uint32_t pid = uint32_t(helperPid_);
        for (const xcb_window_t w : x_.mapped())
            if ((x_.property(w, "WM_NAME") == kOverlayName) == overlay &&
                (overlay || x_.property32(w, "_NET_WM_PID") == pid) && x_.viewable(w))
                out.push_back(w);
        return out;
    }

    // Declared first, so that it goes last.
    PrivateDisplay display_;
    XClient x_{display_.name()};
    QProcessEnvironment scaling_;
    xcb_window_t cover_ = XCB_NONE;
};

// ---- Wayland ----

// A window of the test's own, of one colour, that counts the presses it gets.
class QtWindow final : public ShownWindow {
public:
    bool pressed(int timeoutMs) override {
        return waitUntil([&] { return window.presses > 0; }, timeoutMs);
    }
    bool fullScreen() override { return full(); }
    struct Window : QRasterWindow {
        int presses = 0;
        void paintEvent(QPaintEvent*) override {
            QPainter(this).fillRect(QRect(QPoint(), size()), QColor(0x2a7a4b));
        }
        void mousePressEvent(QMouseEvent*) override { ++presses; }
    } window;
    std::function<bool()> full;
};

// The sway session, in the row's layout while the object lives; the pictures are the session's
// wallpapers (where a fractional scale resamples them, as the output shows them).
class SwayDesktop final : public DesktopDriver {
public:
    explicit SwayDesktop(const DesktopSetup& setup) : DesktopDriver(setup) {
        offers_.panelPlace =
            "the resize panel is drawn inside the overlay's layer surfaces, which sway lists nowhere";
        offers_.bell = "a Wayland client has no bell to count: it plays the desktop's alert sound";
    }

    bool start() override {
        const QString entries = QString::fromLatin1(setup_.layout);
        if (!entries.isEmpty() && !layout_.emplace(entries).ok())
            return false;
        sway_ = SwayIpc::connect();
        input_ = sessionInput();
        if (!sway_ || !input_->ok())
            return false;
        for (const SessionOutput& o : sessionOutputs())
            screens_.push_back({o.name, o.logical, o.scale, 1, shownPicture(o.name)});
        const auto primary = std::find_if(screens_.begin(), screens_.end(),
                                          [](const DesktopScreen& s) { return s.place.topLeft().isNull(); });
        if (primary != screens_.end())
            std::rotate(screens_.begin(), primary, primary + 1);
        // The pointer rests out of the way: the session hides it then, out of every picture.
        input_->motion(1, 1);
        pause(300);
        return true;
    }

    void prepare(IsolatedHome& home) override {
        if (*setup_.capture)
            home.setVariable(QStringLiteral("GLIMRA_WAYLAND_CAPTURE"), QString::fromLatin1(setup_.capture));
    }
    void focus(const DesktopScreen& s) override {
        EXPECT_TRUE(command(QStringLiteral("focus output ") + s.name));
    }
    void showPicture(int) override {}
    QImage shown(const DesktopScreen& s) override { return outputPixels(s.name); }
    void noteDesktop() override {
        before_.clear();
        for (const DesktopScreen& s : screens_)
            before_.push_back(outputImage(s.name));
    }
    // How many outputs the overlay dims: each shows something else than before the capture began at a
    // third of its size. The overlay is on the layer shell, out of sway's tree of windows.
    int dimmed() {
        int n = 0;
        for (size_t i = 0; i < screens_.size() && i < before_.size(); ++i) {
            const QPoint probe(before_[i].width() / 3, before_[i].height() / 3);
            n += outputImage(screens_[i].name).pixel(probe) != before_[i].pixel(probe);
        }
        return n;
    }
    bool overlayUp() override { return dimmed() == int(screens_.size()); }
    bool overlayGone() override { return dimmed() == 0; }
    bool closeFocusedWindow() override { return command(QStringLiteral("kill")); }
    bool escapeFree() override { return unbound(QStringLiteral("9")); }
    bool shortcutsFree() override { return unbound(QStringLiteral("Ctrl+Shift+14")); }
    std::unique_ptr<ShownWindow> showWindow(const QString& title, const QRect& place,
                                            bool fullScreen) override {
        // Floating from the start, where it is put: a tiled window would fill the output.
        EXPECT_TRUE(fullScreen ||
                    command(QStringLiteral("for_window [title=\"%1\"] floating enable, move position %2 %3")
                                .arg(title, QString::number(place.x()), QString::number(place.y()))));
        auto window = std::make_unique<QtWindow>();
        window->window.setTitle(title);
        if (!place.isEmpty())
            window->window.resize(place.size());
        fullScreen ? window->window.showFullScreen() : window->window.show();
        window->title = title;
        const auto listed = [this, title] { return ownSwayWindow(*sway_, title); };
        window->full = [listed] { return listed() && listed()->fullscreen; };
        std::optional<SwayWindow> shown;
        // Floating, and settled at its own size.
        EXPECT_TRUE(waitUntil([&] {
            shown = listed();
            return shown && (fullScreen ? shown->fullscreen
                                        : shown->floating && shown->content.size() == place.size());
        }));
        if (!shown)
            return window;
        pause(300);
        input_->motion(1, 1);
        pause(300);
        window->frame = shown->bounds;
        window->seen = outputPixels(shown->output).copy(sessionOutput(shown->output).pixelsOf(shown->bounds));
        return window;
    }

private:
    bool command(const QString& c) { return bool(swayCommand(*sway_, c)); }
    // unbindcode takes what it finds and fails otherwise.
    bool unbound(const QString& keys) {
        return !command("unbindcode " + keys) && !command("unbindcode --release " + keys);
    }

    std::optional<SessionLayout> layout_;
    std::unique_ptr<SwayIpc> sway_;
    std::vector<QImage> before_;
};

// The helper's desktop entry as the build makes it, installed in the session's data folder (which KWin
// reads) for the executable, unless an earlier test of the session installed it.
bool installHelperEntry(const QString& executable, bool& wasThere) {
    QByteArray text =
        fileContents(QStringLiteral(GLIMRA_BUILD_DIR "/share/applications/app.glimra.GlimraHelper.desktop"));
    const qsizetype exec = text.indexOf("\nExec=");
    if (exec < 0)
        return false;
    text.replace(exec, text.indexOf('\n', exec + 1) - exec, "\nExec=" + executable.toUtf8());
    const QString entry =
        qEnvironmentVariable("XDG_DATA_HOME") + "/applications/app.glimra.GlimraHelper.desktop";
    QDir().mkpath(QFileInfo(entry).path());
    // Written aside and renamed into place: KWin looks for new entries when the folder changes.
    wasThere = fileContents(entry) == text;
    if (wasThere)
        return true;
    QSaveFile installed(entry);
    return installed.open(QIODevice::WriteOnly) && installed.write(text) == text.size() && installed.commit();
}

// KWin or GNOME Shell as the session started them, one output, showing a picture surface of known
// pixels; the overlay shows by taking the keyboard from it. Neither lets an ordinary client copy the
// screen nor list windows.
class ShellDesktop final : public DesktopDriver {
public:
    explicit ShellDesktop(const DesktopSetup& setup) : DesktopDriver(setup) {
        const std::string shell = setup_.kind == DesktopKind::KWin ? "KWin" : "GNOME Shell";
        offers_ = {shell + " lists no windows to programs: a click is a 1x1 selection",
                   shell + " places a program's windows itself and tells no client where",
                   setup_.kind == DesktopKind::KWin
                       ? "KWin's shortcuts portal needs Plasma's workspace, which the session lacks"
                       : "GNOME 43 has no shortcuts for programs: its own call the helper's actions",
                   shell + " lists neither the overlay nor its panel",
                   "a Wayland client has no bell to count: it plays the desktop's alert sound",
                   shell + " tells no client who holds a key",
                   shell + " copies the screen for the programs it trusts alone",
                   shell + " copies no window's state"};
    }

    bool start() override {
        // Made before any window of the test's shows: the events that bring its devices to the seat
        // must reach none of them.
        input_ = sessionInput();
        picture_ = std::make_unique<PictureSurface>();
        if (!input_->ok() || !picture_->ok() || !waitUntil([&] { return picture_->active(); }, 10000))
            return false;
        for (const SessionOutput& o : sessionOutputs())
            screens_.push_back({o.name, o.logical, o.scale, 1, picture_->picture()});
        return true;
    }

    void prepare(IsolatedHome&) override {
        EXPECT_TRUE(setup_.kind != DesktopKind::KWin || installHelperEntry(kHelperExecutable, entryTakenUp_));
    }
    bool mayRefuseTheHelperAtFirst() override { return setup_.kind == DesktopKind::KWin && !entryTakenUp_; }
    void focus(const DesktopScreen&) override {}
    void showPicture(int) override {}
    QImage shown(const DesktopScreen&) override { return QImage(); }
    // Up once the picture has lost the keyboard for a while: GNOME still makes the overlay full screen
    // after it took the keyboard, and a press in between reaches nothing.
    bool overlayUp() override {
        if (picture_->active())
            settling_.invalidate();
        else if (!settling_.isValid())
            settling_.start();
        return settling_.isValid() && settling_.hasExpired(300);
    }
    bool overlayGone() override { return picture_->active(); }
    std::unique_ptr<ShownWindow> showWindow(const QString&, const QRect&, bool) override { return nullptr; }

private:
    std::unique_ptr<PictureSurface> picture_;
    QElapsedTimer settling_;
    bool entryTakenUp_ = false; // installed by an earlier test, which waited until KWin took it up
};

} // namespace

std::unique_ptr<DesktopDriver> DesktopDriver::make(const DesktopSetup& setup, std::string& skip) {
    if (sessionDesktop() != setup.kind) {
        skip = std::string("runs in ") + kSessionNames[int(setup.kind)];
        return nullptr;
    }
    switch (setup.kind) {
    case DesktopKind::X11:
        return std::make_unique<X11Desktop>(setup);
    case DesktopKind::Sway:
        if (*setup.layout && !SessionLayout::fits(QString::fromLatin1(setup.layout))) {
            skip = std::string("needs a sway session of as many outputs as ") + setup.layout +
                   " (scripts/with-session --wayland --outputs ...)";
            return nullptr;
        }
        return std::make_unique<SwayDesktop>(setup);
    case DesktopKind::KWin:
    case DesktopKind::Gnome:
        return std::make_unique<ShellDesktop>(setup);
    }
    return nullptr;
}

} // namespace glimra::test
