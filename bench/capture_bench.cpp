// End-to-end full-screen capture: the time from sending kXPCMessageFullscreenSnapshot (6) to the
// helper until its PNG is on disk. This program is the main application: it owns app.glimra.Glimra,
// starts the helper, is its peer, allows its capture requests and, on kXPCMessageScreenshot (8),
// saves the PNG with the reference main application's own code.
// Measured in the same rounds, on the same screen content:
//   - the grab and PNG encoding alone in this (warm) process: WindowServer + PngEncoder, as the
//     helper does them;
//   - scrot and maim saving the same screen to a file (a process each time, as they are used).
// Prints medians, and a ROW line for bench/capture_bench.sh. Run inside a headless session:
//   scripts/with-session --geometry 3840x2160x24 build/bench/capture_bench [--runs N] [--helper PATH]

#include "MainAppSide.h"
#include "png/PngEncoder.h"
#include "x11/X11WindowServer.h"

#include <QApplication>
#include <QScreen>
#include <QThread>

using namespace benchmain;

namespace {

// One run of an external screenshot tool; the time in ms, or nullopt when it failed.
std::optional<double> runTool(const QString& program, const QStringList& arguments, const QString& output) {
    QFile::remove(output);
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer t;
    t.start();
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    const double elapsed = ms(t);
    return QFile::exists(output) ? std::optional<double>(elapsed) : std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const BenchOptions options = parseBenchOptions(app);
    const int runs = options.runs;
    const ScreenContent shown;
    QScreen* screen = shown.screen();
    const QImage& content = shown.image();
    const QSize size = shown.size();
    const QString label = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
    QTemporaryDir work;

    auto server = glimra::x11::X11WindowServer::connect();
    if (!server) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    server->warmUp();
    QThread::msleep(300);
    glimra::png::PngEncoder encoder;
    {
        const QImage check = server->createImageOfScreen(screen);
        const double share = sameShare(check, content);
        if (share < 0.99)
            std::fprintf(stderr, "warning: only %.1f%% of the screen shows the test content\n", share * 100);
    }

    // The helper, with settings of its own, and this program in the main application's place.
    benchmain::HelperUnderTest helper(work, options.helper);
    if (!helper.ready())
        return 1;
    benchmain::Peer& peer = helper.peer;

    const std::optional<double> first = peer.capture();
    if (!first) {
        std::fprintf(stderr, "the helper delivered no screenshot\n");
        return 1;
    }
    const double firstShare = sameShare(QImage(peer.lastPath()), content);

    // Interleaved rounds, so that the load of a shared machine falls on every figure alike.
    std::vector<double> helperMs, arrivalMs, grabMs, encodeMs, grabEncodeMs, scrotMs, maimMs;
    qint64 ownPngBytes = 0;
    const QString scrotFile = work.filePath("scrot.png"), maimFile = work.filePath("maim.png");
    for (int i = 0; i < runs; ++i) {
        QThread::msleep(150);
        if (const auto t = peer.capture()) {
            helperMs.push_back(*t);
            arrivalMs.push_back(peer.arrivedMs());
        }
        helper.clearShots();

        QThread::msleep(150);
        QElapsedTimer t;
        t.start();
        const QImage image = server->createImageOfScreen(screen);
        const double grabbed = ms(t);
        QByteArray png;
        encoder.encode(image, png);
        const double total = ms(t);
        grabMs.push_back(grabbed);
        encodeMs.push_back(total - grabbed);
        grabEncodeMs.push_back(total);
        ownPngBytes = png.size();

        QThread::msleep(150);
        if (const auto s = runTool("scrot", {"-o", "-z", scrotFile}, scrotFile))
            scrotMs.push_back(*s);
        QThread::msleep(150);
        if (const auto m = runTool("maim", {maimFile}, maimFile))
            maimMs.push_back(*m);
    }

    const double h = median(helperMs), ge = median(grabEncodeMs), sc = median(scrotMs), ma = median(maimMs);
    std::printf("%s, %d rounds, load average %.1f at the end\n", qPrintable(label), runs, loadAverage());
    std::printf("  helper: message 6 -> PNG on disk     %7.1f ms median (min %.1f), PNG %.1f MB; first "
                "capture %.1f ms%s\n",
                h, helperMs.empty() ? 0 : *std::min_element(helperMs.begin(), helperMs.end()),
                peer.pngBytes() / 1e6, *first, firstShare > 0.99 ? "" : "  (WRONG PIXELS)");
    std::printf("    message 8 arrived after            %7.1f ms median; saving it took the rest\n",
                median(arrivalMs));
    std::printf(
        "  grab + encode, warm process          %7.1f ms median (grab %.1f, encode %.1f), PNG %.1f MB\n", ge,
        median(grabMs), median(encodeMs), ownPngBytes / 1e6);
    std::printf("  scrot -o -z FILE                     %7.1f ms median, PNG %.1f MB\n", sc,
                QFile(scrotFile).size() / 1e6);
    std::printf("  maim FILE                            %7.1f ms median, PNG %.1f MB\n", ma,
                QFile(maimFile).size() / 1e6);
    std::printf("  helper / (grab + encode) = %.2fx; scrot / helper = %.1fx; maim / helper = %.1fx\n", h / ge,
                sc / h, ma / h);
    std::printf("ROW %s %.1f %.1f %.1f %.1f %.1f %.2f %.1f\n", qPrintable(label), h, *first, ge, sc, ma,
                h / ge, sc / h);
    return helperMs.size() == size_t(runs) ? 0 : 1;
}
