// The helper's memory over many crosshair overlay sessions, beside as many full-screen captures
// (prints figures; not a test). This program is the main application (MainAppSide.h) and drives the
// real helper through XTest like a hand. Each round of overlay sessions takes, in turn: Ctrl+Shift+5
// and Escape while hunting; a drag, then Escape with the resize panel up; a drag, then a click on
// Capture. The full-screen captures are message 6. The helper's anonymous memory (its heap and private
// mappings, smaps_rollup) is read before, after, and after a quiet minute and more, when the helper
// has given back its grab and encoding buffers: whatever a capture leaves behind shows as growth
// that the quiet minute does not take back.
// Run inside a headless session:
//   scripts/with-session build/bench/overlay_memory_bench [--sessions N] [--quiet SECONDS] [--helper PATH]

#include "Hand.h"
#include "MainAppSide.h"
#include "ProcessMemory.h"

#include <QApplication>

#include <X11/keysym.h>

using namespace benchmain;
using glimra::test::processMemory;
using glimra::test::ProcessMemory;

namespace {

enum class Ending { EscapeWhileHunting, EscapeInThePanel, Capture };

class Rounds {
public:
    Rounds(HelperUnderTest& helper, Hand& hand, QSize screen)
        : helper_(helper), hand_(hand), screen_(screen) {}

    // One overlay session ended as asked; false when the helper did not follow.
    bool overlaySession(Ending ending) {
        const int shown = helper_.peer.showRequests();
        size_t since = hand_.maps();
        hand_.type({XK_Control_L, XK_Shift_L}, XK_5);
        if (!hand_.waitForMap(since, true))
            return fail("no overlay");
        if (ending == Ending::EscapeWhileHunting) {
            // The overlay is mapped a moment before it has the keyboard.
            if (!spin([&] { return hand_.keyboardOnScreenSizedWindow(); }, 5000))
                return fail("the overlay did not take the keyboard");
            hand_.type({}, XK_Escape);
            return endedWithoutPicture(shown);
        }
        const QRect selection(screen_.width() / 6, screen_.height() / 6, screen_.width() / 3,
                              screen_.height() / 3);
        hand_.moveTo(selection.topLeft());
        hand_.button(true);
        hand_.moveTo(selection.center());
        hand_.moveTo(selection.bottomRight());
        pause(50);
        since = hand_.maps();
        hand_.button(false);
        if (!hand_.waitForMap(since, false))
            return fail("no resize panel");
        pause(100);
        if (ending == Ending::EscapeInThePanel) {
            hand_.type({}, XK_Escape);
            return endedWithoutPicture(shown);
        }
        // Capture lies under the pointer and acts when the button comes up.
        helper_.peer.startTiming();
        hand_.button(true);
        hand_.button(false);
        if (!helper_.peer.waitForSaved())
            return fail("no screenshot of the region");
        helper_.clearShots();
        return idle();
    }

    bool fullScreenCapture() {
        if (!helper_.peer.capture())
            return fail("no full-screen screenshot");
        helper_.clearShots();
        return idle();
    }

private:
    bool endedWithoutPicture(int shownBefore) {
        if (!spin([&] { return helper_.peer.showRequests() > shownBefore; }, 5000))
            return fail("the capture did not end");
        return idle();
    }
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
    Hand& hand_;
    QSize screen_;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption sessionsOption("sessions", "Overlay sessions and full-screen captures each.",
                                            "n", "200");
    const QCommandLineOption quietOption("quiet", "Seconds to wait for the quiet-minute release.", "s", "70");
    const QCommandLineOption helperOption("helper", "The helper executable.", "path",
                                          GLIMRA_HELPER_BUNDLE_DIR "/Contents/MacOS/GlimraHelper");
    parser.addOptions({sessionsOption, quietOption, helperOption});
    parser.addHelpOption();
    parser.process(app);
    const int sessions = std::max(3, parser.value(sessionsOption).toInt());
    const int quietSeconds = std::max(0, parser.value(quietOption).toInt());

    const ScreenContent shown;
    QTemporaryDir work;
    HelperUnderTest helper(work, parser.value(helperOption));
    Hand hand;
    if (!helper.ready() || !hand.ok())
        return 1;
    pause(1500); // the helper readies its grab buffers and a resize panel a second after start-up
    Rounds rounds(helper, hand, shown.size());
    // Everything made once for the life of the process is made before the first reading.
    for (int i = 0; i < 2; ++i)
        for (Ending ending : {Ending::Capture, Ending::EscapeWhileHunting, Ending::EscapeInThePanel})
            if (!rounds.overlaySession(ending) || !rounds.fullScreenCapture())
                return 1;

    // Each row starts and ends after a quiet spell, so both readings are of a helper that has let go
    // of its buffers.
    const qint64 pid = helper.pid();
    pause(quietSeconds * 1000);
    ProcessMemory before = processMemory(pid);
    std::printf("%dx%d: the helper's anonymous memory, MiB (proportional set size in brackets)\n",
                shown.size().width(), shown.size().height());
    std::printf("%-28s %15s %15s %15s %10s\n", "", "before", "right after", "after quiet", "KiB each");
    const auto row = [&](const QString& what, const std::function<bool(int)>& round) {
        for (int i = 0; i < sessions; ++i)
            if (!round(i))
                return false;
        const ProcessMemory after = processMemory(pid);
        pause(quietSeconds * 1000);
        const ProcessMemory quiet = processMemory(pid);
        const auto cell = [](const ProcessMemory& m) {
            return QStringLiteral("%1 (%2)").arg(m.anonymousMiB, 0, 'f', 1).arg(m.pssMiB, 0, 'f', 1);
        };
        std::printf("%-28s %15s %15s %15s %10.1f\n", qPrintable(what), qPrintable(cell(before)),
                    qPrintable(cell(after)), qPrintable(cell(quiet)),
                    (quiet.anonymousMiB - before.anonymousMiB) * 1024 / sessions);
        std::fflush(stdout);
        before = quiet;
        return true;
    };
    const bool ok = row(QStringLiteral("%1 full-screen captures").arg(sessions),
                        [&](int) { return rounds.fullScreenCapture(); }) &&
                    row(QStringLiteral("%1 overlay sessions").arg(sessions), [&](int i) {
                        constexpr Ending kinds[] = {Ending::EscapeWhileHunting, Ending::EscapeInThePanel,
                                                    Ending::Capture};
                        return rounds.overlaySession(kinds[i % 3]);
                    });
    std::printf("Overlay sessions: a third each Escape while hunting, Escape at the resize panel, captured "
                "from it. Load average %.1f at the end.\n",
                loadAverage());
    return ok ? 0 : 1;
}
