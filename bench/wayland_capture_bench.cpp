// The helper's captures as a native Wayland client on sway, end to end. This program is the main
// application (MainAppSide.h) and starts the built helper, which copies outputs through wlroots'
// screencopy; it runs inside a headless sway session:
//   - full screen: kXPCMessageFullscreenSnapshot (6) sent until the PNG is on disk, beside
//     `grim -o OUTPUT FILE` of the same (first) output in the same rounds;
//   - the region shortcut Ctrl+Shift+5, typed on a virtual keyboard, from the key's release until each
//     output's first frame that shows the overlay (its pixels read back through screencopy,
//     OutputFrames.h: the frame's commit time); beside the floor, a plain full-screen window of this
//     program from show() to its first frame, read back the same way;
//   - full screen again through the desktop portal (GLIMRA_WAYLAND_CAPTURE=portal), beside the direct
//     road's figure.
// The first output shows a realistic desktop as its wallpaper meanwhile. Prints medians (p90 for the
// overlay) and a ROW line for bench/wayland_bench.sh, which runs it on the session's two outputs and
// at 3840x2160:
//   scripts/with-session --wayland [--outputs 3840x2160@1] build/bench/wayland_capture_bench
//       [--runs N] [--region-runs N] [--portal-runs N] [--helper PATH]

#include "MainAppSide.h"
#include "OutputFrames.h"
#include "WaylandKit.h"
#include "wayland/SwayIpc.h"

#include <QApplication>
#include <QRasterWindow>

#include <X11/keysym.h>

#include <chrono>

using namespace benchmain;
using glimra::wayland::SwayIpc;

namespace {

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

double nowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Lets the event loop run for ms.
void idle(int ms) {
    spin([] { return false; }, ms);
}

// A full-screen window painting one picture: the floor of any overlay.
class PlainWindow : public QRasterWindow {
public:
    explicit PlainWindow(QScreen* screen) {
        setScreen(screen);
        setTitle(QStringLiteral("floor"));
        setFlag(Qt::FramelessWindowHint);
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(QRect(QPoint(), size()), Qt::darkGray); }
};

// One `grim -o output file`, in ms; nullopt when it failed.
std::optional<double> timeGrim(const QString& output, const QString& file) {
    QFile::remove(file);
    QElapsedTimer t;
    t.start();
    const int code = QProcess::execute(QStringLiteral("grim"), {QStringLiteral("-o"), output, file});
    const double elapsed = ms(t);
    return code == 0 && QFile::exists(file) ? std::optional<double>(elapsed) : std::nullopt;
}

// Shows picture as output's wallpaper and waits until grim sees it; false after timeoutMs.
bool showWallpaper(SwayIpc& sway, const QString& output, const QImage& picture, const QString& file,
                   int timeoutMs) {
    if (!picture.save(file, "PNG", 10) ||
        !sway.request(SwayIpc::RunCommand,
                      QStringLiteral("output %1 bg %2 center").arg(output, file).toUtf8()))
        return false;
    const QString copy = file + QStringLiteral(".grim.png");
    return spin(
        [&] {
            idle(300);
            return timeGrim(output, copy) && sameShare(QImage(copy), picture) > 0.99;
        },
        timeoutMs);
}

struct Figures {
    double helper = 0, helperMin = 0, first = 0, grim = 0, overlayMedian = 0, overlayP90 = 0, floor = 0,
           portal = 0, portalFirst = 0;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption runsOption("runs", "Full-screen rounds.", "n", "15");
    const QCommandLineOption regionOption("region-runs", "Region shortcut rounds (0: none).", "n", "20");
    const QCommandLineOption portalOption("portal-runs", "Portal rounds (0: none).", "n", "5");
    const QCommandLineOption helperOption("helper", "The helper executable.", "path",
                                          GLIMRA_HELPER_BUNDLE_DIR "/Contents/MacOS/GlimraHelper");
    parser.addOptions({runsOption, regionOption, portalOption, helperOption});
    parser.addHelpOption();
    parser.process(app);
    const int runs = std::max(3, parser.value(runsOption).toInt());
    const int regionRuns = std::max(0, parser.value(regionOption).toInt());
    const int portalRuns = std::max(0, parser.value(portalOption).toInt());
    const QString executable = parser.value(helperOption);

    std::unique_ptr<SwayIpc> sway = SwayIpc::connect();
    OutputFrames frames;
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || !sway || !frames.ok()) {
        std::fprintf(stderr, "needs a sway session (scripts/with-session --wayland)\n");
        return 1;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    const QString output = screen->name();
    const QSize size = screen->geometry().size() * screen->devicePixelRatio();
    const QString label = screenLayout();
    QTemporaryDir work;
    const QImage content = realisticScreen(size);
    if (!showWallpaper(*sway, output, content, work.filePath("desktop.png"), 20000))
        std::fprintf(stderr, "warning: %s does not show the test desktop\n", qPrintable(output));
    const QString grimFile = work.filePath("grim.png");
    Figures f;

    {
        HelperUnderTest helper(work, executable);
        if (!helper.ready())
            return 1;
        idle(1500); // the helper readies its copy buffers a second after start-up
        Peer& peer = helper.peer;
        const std::optional<double> first = peer.capture();
        if (!first) {
            std::fprintf(stderr, "the helper delivered no screenshot\n");
            return 1;
        }
        f.first = *first;
        const double share = sameShare(QImage(peer.lastPath()), content);
        std::vector<double> helperMs, grimMs;
        for (int i = 0; i < runs; ++i) {
            idle(150);
            if (const auto t = peer.capture())
                helperMs.push_back(*t);
            helper.clearShots();
            idle(150);
            if (const auto t = timeGrim(output, grimFile))
                grimMs.push_back(*t);
        }
        f.helper = median(helperMs);
        f.helperMin = helperMs.empty() ? 0 : *std::min_element(helperMs.begin(), helperMs.end());
        f.grim = median(grimMs);
        std::printf("%s (%s), load average %.1f\n", qPrintable(label), qPrintable(output), loadAverage());
        std::printf(
            "  helper: message 6 -> PNG on disk     %7.1f ms median of %zu (min %.1f), PNG %.1f MB; first "
            "%.1f ms%s\n",
            f.helper, helperMs.size(), f.helperMin, peer.pngBytes() / 1e6, f.first,
            share > 0.99 ? "" : "  (WRONG PIXELS)");
        std::printf(
            "  grim -o %s FILE               %7.1f ms median of %zu, PNG %.1f MB: %.1fx the helper's time\n",
            qPrintable(output), f.grim, grimMs.size(), QFile(grimFile).size() / 1e6, f.grim / f.helper);

        if (regionRuns > 0) {
            glimra::test::WaylandInput keyboard;
            std::vector<std::vector<double>> perOutput(frames.count());
            std::vector<double> everyOutput, floorMs;
            std::size_t primary = 0;
            while (primary + 1 < frames.count() && frames.name(primary) != output)
                ++primary;
            const auto all = [](const std::vector<std::optional<double>>& shown) {
                return std::all_of(shown.begin(), shown.end(), [](const auto& t) { return t.has_value(); });
            };
            for (int i = 0; i < regionRuns && keyboard.ok(); ++i) {
                idle(300);
                if (!frames.remember()) {
                    std::fprintf(stderr, "the outputs could not be copied\n");
                    break;
                }
                keyboard.key(XK_Control_L, true);
                keyboard.key(XK_Shift_L, true);
                keyboard.key(XK_5, true);
                const double released = nowMs();
                keyboard.key(XK_5, false);
                keyboard.key(XK_Shift_L, false);
                keyboard.key(XK_Control_L, false);
                const std::vector<std::optional<double>> shown =
                    frames.firstFrames(DimmingProbe::dimmed, 10000);
                for (std::size_t o = 0; o < shown.size(); ++o)
                    if (shown[o])
                        perOutput[o].push_back(*shown[o] - released);
                if (all(shown))
                    everyOutput.push_back(**std::max_element(shown.begin(), shown.end()) - released);
                idle(200);
                keyboard.key(XK_Escape, true);
                keyboard.key(XK_Escape, false);
                if (!all(frames.firstFrames(DimmingProbe::unchanged, 5000)))
                    std::fprintf(stderr, "the overlay stayed up after Escape\n");

                idle(300);
                sway->request(SwayIpc::RunCommand, QStringLiteral("focus output %1").arg(output).toUtf8());
                PlainWindow plain(screen);
                const double asked = nowMs();
                plain.showFullScreen();
                const auto painted = [](uint32_t, uint32_t now) {
                    return nearPixel(now, QColor(Qt::darkGray).rgb() & 0xffffff);
                };
                if (const auto up = frames.firstFrames(painted, 5000, primary)[primary])
                    floorMs.push_back(*up - asked);
            }
            if (everyOutput.size() < size_t(regionRuns)) {
                QFile log(work.filePath("helper.log"));
                log.open(QIODevice::ReadOnly);
                std::fprintf(stderr, "overlays missed; the helper said:\n%s\n",
                             log.readAll().right(6000).constData());
            }
            f.overlayMedian = median(everyOutput);
            f.overlayP90 = percentile(everyOutput, 0.9);
            f.floor = median(floorMs);
            std::printf("  Ctrl+Shift+5 release -> the overlay's first frame (%zu of %d runs):\n",
                        everyOutput.size(), regionRuns);
            for (std::size_t o = 0; o < perOutput.size(); ++o)
                std::printf("    on %-12s %7.1f ms median, p90 %.1f\n", qPrintable(frames.name(o)),
                            median(perOutput[o]), percentile(perOutput[o], 0.9));
            std::printf("    on every output %7.1f ms median, p90 %.1f, slowest %.1f\n", f.overlayMedian,
                        f.overlayP90, percentile(everyOutput, 1));
            std::printf("  floor, a plain full-screen window of this program, show() -> first frame: %.1f ms "
                        "median, p90 %.1f\n",
                        f.floor, percentile(floorMs, 0.9));
        }
    }

    if (portalRuns > 0) {
        QProcessEnvironment portal;
        portal.insert(QStringLiteral("GLIMRA_WAYLAND_CAPTURE"), QStringLiteral("portal"));
        HelperUnderTest helper(work, executable, portal);
        if (!helper.ready())
            return 1;
        idle(1500);
        std::vector<double> portalMs;
        const std::optional<double> first = helper.peer.capture(30000);
        if (!first) {
            QFile log(work.filePath("helper.log"));
            log.open(QIODevice::ReadOnly);
            std::fprintf(stderr, "no screenshot through the portal within 30 s; the helper said:\n%s\n",
                         log.readAll().right(2000).constData());
        }
        for (int i = 0; i < portalRuns && first; ++i) {
            idle(300);
            if (const auto t = helper.peer.capture(30000))
                portalMs.push_back(*t);
            helper.clearShots();
        }
        f.portal = median(portalMs);
        f.portalFirst = first.value_or(0);
        std::printf(
            "  the portal's road, message 6 -> PNG on disk: %.0f ms median of %zu (first %.0f ms): %.0fx the "
            "direct road's time\n",
            f.portal, portalMs.size(), f.portalFirst, f.helper > 0 ? f.portal / f.helper : 0);
    }
    std::printf("ROW %s %.1f %.1f %.1f %.1f %.1f %.1f %.1f %.0f\n", qPrintable(label), f.helper, f.first,
                f.grim, f.helper > 0 ? f.grim / f.helper : 0, f.overlayMedian, f.overlayP90, f.floor,
                f.portal);
    return 0;
}
