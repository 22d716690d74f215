// Median times of a copy of every output on KWin through ScreenShot2 beside the Screenshot portal of
// the same session, and on GNOME Shell through the portal. Runs inside the headless sessions:
//   scripts/with-session --kwin build/bench/desktop_copy_bench [runs]
//   scripts/with-session --gnome build/bench/desktop_copy_bench [runs]
// KWin answers only programs a desktop entry names: on KWin this program writes one naming itself into
// $XDG_DATA_HOME/applications (the session's own folder) and waits until KWin takes it up.

#include "wayland/OutputCopier.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QThread>

#include <algorithm>
#include <cstdio>

using namespace glimra::wayland;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// One copy in ms; -1 when it failed.
double timeCopy(OutputCopier& copier) {
    QElapsedTimer t;
    t.start();
    bool done = false, ok = false;
    QEventLoop loop;
    copier.copyOutputs({}, [&](std::vector<OutputImage> images) {
        done = true;
        ok = !images.empty();
        loop.quit();
    });
    if (!done)
        loop.exec();
    return ok ? double(t.nsecsElapsed()) / 1e6 : -1;
}

void report(const char* what, OutputCopier& copier, int runs) {
    const double first = timeCopy(copier);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
        if (const double ms = timeCopy(copier); ms >= 0)
            times.push_back(ms);
    std::printf("%s (%s): first %.1f, median %.1f of %zu/%d runs\n", what, qPrintable(copier.road()), first,
                median(times), times.size(), runs);
}

bool authorizeOnKWin() {
    QDir().mkpath(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/applications"));
    QFile entry(qEnvironmentVariable("XDG_DATA_HOME") +
                QStringLiteral("/applications/glimra-desktop-copy-bench.desktop"));
    if (!entry.open(QIODevice::WriteOnly))
        return false;
    entry.write("[Desktop Entry]\nType=Application\nName=Glimra copy benchmark\nNoDisplay=true\nExec=" +
                QCoreApplication::applicationFilePath().toUtf8() +
                "\nX-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n");
    entry.close();
    for (int tries = 0; tries < 50; ++tries) {
        const std::unique_ptr<OutputCopier> copier = makeKWinScreenShotCopier(nullptr);
        if (copier && timeCopy(*copier) >= 0 && copier->road() == QLatin1String("kwin-screenshot2"))
            return true;
        QThread::msleep(200);
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    std::printf("%s, %lld output(s), times in ms\n", qPrintable(desktop),
                static_cast<long long>(QGuiApplication::screens().size()));
    if (desktop == QLatin1String("KDE")) {
        if (!authorizeOnKWin()) {
            std::fprintf(stderr, "KWin never authorized this program\n");
            return 1;
        }
        const std::unique_ptr<OutputCopier> kwin = makeKWinScreenShotCopier(nullptr);
        report("ScreenShot2", *kwin, runs);
    }
    CopierOptions options;
    options.road = CopierOptions::Road::Portal;
    const std::unique_ptr<OutputCopier> portal = makeOutputCopier(options);
    portal->warmUp();
    report("portal", *portal, std::max(1, runs / 3));
    return 0;
}
