// The helper's private memory over many captures through the overlay, on X11 or on sway (prints
// figures; not a test). This program is the main application (MainAppSide.h) and drives the real
// helper as a user does, with the session's keyboard and pointer (TestInput: XTest on X11, virtual
// devices on sway). Of every four captures three are region captures (Ctrl+Shift+5, or message 4 every
// other time; a drag once the overlay dims the desktop; Return at the resize panel) and one a full
// screen (message 6). The overlay counts as up once the desktop's pixels show it: read from the root
// window on X11, through screencopy on sway (OutputFrames.h). The helper's anonymous memory (its heap
// and private mappings, smaps_rollup; the same measure on both: the shared memory its grabs and the
// overlay's frames go through, SysV segments on X11 and memfds on Wayland, is left out) is read
// settled after start-up, right after the captures, and after a quiet spell, when the helper has given
// back its grab and encoding buffers: whatever the captures leave behind shows as growth that the quiet
// spell does not take back. The first output shows a realistic desktop.
// Prints a ROW line for bench/memory_bench.sh, which runs it on X11 and on sway:
//   scripts/with-session [--wayland] build/bench/overlay_memory_bench [--captures N] [--quiet SECONDS]
//       [--helper PATH]

#include "MainAppSide.h"
#include "OutputFrames.h"
#include "ProcessMemory.h"
#include "TestInput.h"
#include "wayland/SwayIpc.h"

#include <QApplication>

#include <X11/keysym.h>

using namespace benchmain;
using glimra::test::processMemory;
using glimra::test::ProcessMemory;

namespace {

// Lets the event loop run for ms.
void rest(int ms) {
    spin([] { return false; }, ms);
}

// The desktop's pixels at a few probe points, before a capture and while it runs: through screencopy on
// Wayland, from the root window on X11.
class Desktop {
public:
    explicit Desktop(QScreen* screen) : screen_(screen) {
        if (QGuiApplication::platformName() == QLatin1String("wayland"))
            frames_ = std::make_unique<OutputFrames>();
    }
    bool ok() const { return !frames_ || frames_->ok(); }
    // Takes the desktop as it is now as the picture the overlay dims.
    bool remember() {
        if (frames_)
            return frames_->remember();
        const QImage picture = screen_->grabWindow(0).toImage();
        const std::vector<Point> grid = gridPoints(0, 0, picture.width(), picture.height());
        probe_ = DimmingProbe(grid, pixels(picture, grid));
        return !picture.isNull();
    }
    // Until every output passes look; false after timeoutMs.
    bool waitFor(const DimmingProbe::Look& look, int timeoutMs) {
        if (frames_) {
            const std::vector<std::optional<double>> shown = frames_->firstFrames(look, timeoutMs);
            return std::all_of(shown.begin(), shown.end(), [](const auto& t) { return t.has_value(); });
        }
        return spin(
            [&] { return probe_.holds(look, pixels(screen_->grabWindow(0).toImage(), probe_.points())); },
            timeoutMs);
    }

private:
    static std::vector<uint32_t> pixels(const QImage& picture, const std::vector<Point>& points) {
        std::vector<uint32_t> out;
        for (const Point& p : points)
            out.push_back(picture.valid(p.x, p.y) ? picture.pixel(p.x, p.y) & 0xffffff : 0);
        return out;
    }

    QScreen* screen_;
    std::unique_ptr<OutputFrames> frames_;
    DimmingProbe probe_;
};

class Rounds {
public:
    Rounds(HelperUnderTest& helper, glimra::test::TestInput& input, Desktop& desktop, QRect screen)
        : helper_(helper), input_(input), desktop_(desktop), screen_(screen) {}

    // The capture numbered i of the mix; false when the helper did not follow.
    bool capture(int i) {
        if (i % 4 == 3) {
            if (!helper_.peer.capture())
                return fail("no full-screen screenshot");
            helper_.clearShots();
            return idle();
        }
        if (!desktop_.remember())
            return fail("the desktop could not be read");
        if (i % 2 == 0)
            input_.type({XK_Control_L, XK_Shift_L}, XK_5);
        else
            helper_.peer.send(kXPCMessageCrosshairSnapshot);
        if (!desktop_.waitFor(DimmingProbe::dimmed, 10000))
            return fail("no overlay");
        const QRect selection(screen_.x() + screen_.width() / 6, screen_.y() + screen_.height() / 6,
                              screen_.width() / 3, screen_.height() / 3);
        input_.motion(selection.left(), selection.top());
        input_.button(1, true);
        input_.motion(selection.center().x(), selection.center().y());
        input_.motion(selection.right(), selection.bottom());
        rest(150);
        input_.button(1, false);
        rest(300); // the resize panel shows, with the keyboard
        helper_.peer.startTiming();
        // A Return that came before the panel had the keyboard is typed again.
        bool saved = false;
        for (int tries = 0; tries < 3 && !saved; ++tries) {
            input_.tap(XK_Return);
            saved = helper_.peer.waitForSaved(3000).has_value();
        }
        if (!saved)
            return fail("no screenshot of the region");
        helper_.clearShots();
        if (!desktop_.waitFor(DimmingProbe::unchanged, 5000))
            return fail("the overlay stayed on the screen");
        return idle();
    }

private:
    // Until the helper is ready for the next capture (it has captured a rectangle before).
    bool idle() {
        return spin([&] { return helper_.peer.canSnapPreviousArea() == true; }, 5000) ||
               fail("the helper stayed busy");
    }
    static bool fail(const char* what) {
        std::fprintf(stderr, "%s\n", what);
        return false;
    }

    HelperUnderTest& helper_;
    glimra::test::TestInput& input_;
    Desktop& desktop_;
    QRect screen_;
};

// realisticScreen() on the first output: on X11 a window over it, on sway its wallpaper.
class ShownDesktop {
public:
    explicit ShownDesktop(const QTemporaryDir& work) {
        QScreen* screen = QGuiApplication::primaryScreen();
        const QImage picture = realisticScreen(screen->geometry().size() * screen->devicePixelRatio());
        if (QGuiApplication::platformName() != QLatin1String("wayland")) {
            window_ = std::make_unique<ContentWindow>(picture);
            window_->setGeometry(screen->geometry());
            window_->show();
        } else if (const std::unique_ptr<glimra::wayland::SwayIpc> sway = glimra::wayland::SwayIpc::connect();
                   !sway || !picture.save(work.filePath("desktop.png")) ||
                   !sway->request(glimra::wayland::SwayIpc::RunCommand,
                                  QStringLiteral("output %1 bg %2 center")
                                      .arg(screen->name(), work.filePath("desktop.png"))
                                      .toUtf8())) {
            std::fprintf(stderr, "warning: %s does not show the realistic desktop\n",
                         qPrintable(screen->name()));
        }
        rest(1500);
    }

private:
    std::unique_ptr<ContentWindow> window_;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption capturesOption("captures", "Captures, three in four of a region.", "n", "100");
    const QCommandLineOption quietOption("quiet", "Seconds of quiet before the last reading.", "s", "70");
    const QCommandLineOption helperOption("helper", "The helper executable.", "path",
                                          GLIMRA_HELPER_BUNDLE_DIR "/Contents/MacOS/GlimraHelper");
    parser.addOptions({capturesOption, quietOption, helperOption});
    parser.addHelpOption();
    parser.process(app);
    const int captures = std::max(1, parser.value(capturesOption).toInt());
    const int quietSeconds = std::max(0, parser.value(quietOption).toInt());

    QTemporaryDir work;
    const ShownDesktop shown(work);
    QScreen* screen = QGuiApplication::primaryScreen();
    Desktop desktop(screen);
    const std::unique_ptr<glimra::test::TestInput> input = glimra::test::sessionInput();
    HelperUnderTest helper(work, parser.value(helperOption));
    if (!helper.ready() || !input->ok() || !desktop.ok())
        return 1;
    // The pointer rests out of the way, as a user's does before the shortcut.
    input->motion(screen->geometry().right() - 10, screen->geometry().bottom() - 10);
    rest(5000); // the helper readies its grab buffers and a resize panel a second after start-up
    const qint64 pid = helper.pid();
    const ProcessMemory started = processMemory(pid);

    Rounds rounds(helper, *input, desktop, screen->geometry());
    int done = 0;
    while (done < captures && rounds.capture(done))
        ++done;
    const ProcessMemory after = processMemory(pid);
    rest(quietSeconds * 1000);
    const ProcessMemory quiet = processMemory(pid);

    const QString session = QGuiApplication::platformName() == QLatin1String("wayland")
                                ? QStringLiteral("sway")
                                : QStringLiteral("X11");
    std::printf(
        "%s %s: the helper's anonymous memory after start-up %.1f MiB, right after %d captures %.1f "
        "MiB, after %d s of quiet %.1f MiB (proportional set size %.1f, %.1f, %.1f MiB); load average "
        "%.1f\n",
        qPrintable(session), qPrintable(screenLayout()), started.anonymousMiB, done, after.anonymousMiB,
        quietSeconds, quiet.anonymousMiB, started.pssMiB, after.pssMiB, quiet.pssMiB, loadAverage());
    std::printf("ROW %s %s %.1f %.1f %.1f %d\n", qPrintable(session), qPrintable(screenLayout()),
                started.anonymousMiB, after.anonymousMiB, quiet.anonymousMiB, done);
    return done == captures ? 0 : 1;
}
