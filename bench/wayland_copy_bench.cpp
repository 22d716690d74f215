// Median times of copies of one output at 1920x1080 and 3840x2160 through wlroots' screencopy (cold:
// fresh buffers; warm: buffers kept from the last copy) and of both outputs at once, beside
// `grim -o OUTPUT FILE` of the same output in the same run, and the Screenshot portal's answer.
// Runs inside a headless sway session whose first output is HEADLESS-1 (resized here and put back):
//   build/bench/wayland_copy_bench [runs]
// A copy waits for the compositor's next frame of the output (60 Hz here): figures spread over 0-17 ms
// more than the copy itself takes, for grim as for this.

#include "wayland/OutputCopier.h"
#include "wayland/SwayIpc.h"
#include "wayland/WaylandConnection.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>

using namespace glimra::wayland;

namespace {

const QString kOutput = QStringLiteral("HEADLESS-1");

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// One copy in ms, waiting on the event loop for roads that answer later; -1 when it failed.
double timeCopy(OutputCopier& copier, const QStringList& names) {
    QElapsedTimer t;
    t.start();
    bool done = false, ok = false;
    QEventLoop loop;
    copier.copyOutputs(names, [&](std::vector<OutputImage> images) {
        done = true;
        ok = !images.empty();
        loop.quit();
    });
    if (!done)
        loop.exec();
    return ok ? double(t.nsecsElapsed()) / 1e6 : -1;
}

double timeGrim(const QString& file) {
    QElapsedTimer t;
    t.start();
    const int code = QProcess::execute(QStringLiteral("grim"), {QStringLiteral("-o"), kOutput, file});
    return code == 0 ? double(t.nsecsElapsed()) / 1e6 : -1;
}

bool setResolution(SwayIpc& ipc, WaylandConnection& connection, QSize size) {
    const QByteArray command = QStringLiteral("output %1 resolution %2x%3")
                                   .arg(kOutput)
                                   .arg(size.width())
                                   .arg(size.height())
                                   .toUtf8();
    if (!ipc.request(SwayIpc::RunCommand, command))
        return false;
    for (int i = 0; i < 100; ++i) {
        connection.sync();
        for (const OutputInfo& o : connection.outputs())
            if (o.name == kOutput && o.modeSize == size)
                return true;
        QThread::msleep(20);
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    std::shared_ptr<WaylandConnection> connection = WaylandConnection::connect();
    std::unique_ptr<SwayIpc> ipc = SwayIpc::connect();
    std::unique_ptr<OutputCopier> copier = makeScreencopyCopier(connection);
    if (!connection || !ipc || !copier) {
        std::fprintf(stderr, "needs a sway session with wlroots' screencopy\n");
        return 1;
    }
    const QString file = QDir::temp().filePath(QStringLiteral("wayland_copy_bench.png"));
    std::printf("%d runs each, medians in ms\n", runs);
    for (const QSize size : {QSize(1920, 1080), QSize(3840, 2160)}) {
        if (!setResolution(*ipc, *connection, size)) {
            std::fprintf(stderr, "sway would not set %s to %dx%d\n", qPrintable(kOutput), size.width(),
                         size.height());
            return 1;
        }
        QThread::msleep(200); // the wallpaper redrawn at the new size
        std::vector<double> cold, warm, both, grim;
        for (int i = 0; i < runs; ++i) {
            copier->releaseBuffers();
            cold.push_back(timeCopy(*copier, {kOutput}));
        }
        copier->warmUp();
        for (int i = 0; i < runs; ++i) {
            warm.push_back(timeCopy(*copier, {kOutput}));
            both.push_back(timeCopy(*copier, {}));
            grim.push_back(timeGrim(file));
        }
        std::printf("%s %dx%d: wlr-screencopy warm %.1f (fastest %.1f), cold %.1f; both outputs warm %.1f | "
                    "grim -o %s FILE %.1f (%.1fx)\n",
                    qPrintable(kOutput), size.width(), size.height(), median(warm),
                    *std::min_element(warm.begin(), warm.end()), median(cold), median(both),
                    qPrintable(kOutput), median(grim), median(grim) / median(warm));
    }
    setResolution(*ipc, *connection, QSize(1920, 1080));
    QFile::remove(file);

    const QString portal = CopierOptions().portalService;
    if (const auto started = QDBusConnection::sessionBus().interface()->startService(portal);
        !started.isValid()) {
        std::printf("portal: %s\n", qPrintable(started.error().message()));
        return 0;
    }
    std::unique_ptr<OutputCopier> viaPortal = makePortalCopier(connection);
    std::vector<double> answers;
    for (int i = 0; i < std::min(runs, 5); ++i)
        answers.push_back(timeCopy(*viaPortal, {}));
    std::printf("portal, both outputs at 1920x1080 + 1280x720: %.0f (%zu runs)\n", median(answers),
                answers.size());
    return 0;
}
