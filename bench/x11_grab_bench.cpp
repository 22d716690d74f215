// Median times of full-HD and 4K grabs through the X11 window server: the first grab of a fresh
// connection (cold: new shared memory segment, new pixel buffer) and repeated grabs (warm), with
// MIT-SHM and with plain GetImage; and the window list. Needs a root window of at least 3840 x 2160 for the
// 4K figures:
//   scripts/with-session --geometry 3840x2160x24 x11_grab_bench [runs]

#include "x11/WindowServer.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

using glimra::x11::WindowServer;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double timeGrab(WindowServer& server, const QRectF& rect, bool* ok) {
    QElapsedTimer t;
    t.start();
    const QImage image = server.createImage(rect);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    *ok = *ok && !image.isNull();
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
    const QRectF desktop = [] {
        auto probe = WindowServer::connect();
        return probe ? glimra::x11::boundingRectInPoints(probe->screens()) : QRectF();
    }();
    if (desktop.isEmpty()) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    std::printf("desktop %gx%g points, %d runs per figure\n", desktop.width(), desktop.height(), runs);
    const QSize sizes[] = {{1920, 1080}, {3840, 2160}};
    for (const bool shm : {true, false}) {
        for (const QSize& size : sizes) {
            const QRectF rect(desktop.topLeft(), QSizeF(size));
            if (!desktop.contains(rect)) {
                std::printf("%-5s %dx%d: skipped, the desktop is smaller\n", shm ? "shm" : "plain",
                            size.width(), size.height());
                continue;
            }
            bool ok = true;
            std::vector<double> cold, warmUps, afterWarmUp, warm;
            // Pauses let the server finish faulting in the segment of the connection before.
            for (int i = 0; i < std::max(3, runs / 3); ++i) {
                {
                    auto server = WindowServer::connect({shm});
                    cold.push_back(timeGrab(*server, rect, &ok));
                }
                QThread::msleep(500);
                auto server = WindowServer::connect({shm});
                QElapsedTimer t;
                t.start();
                server->warmUp();
                warmUps.push_back(double(t.nsecsElapsed()) / 1e6);
                QThread::msleep(500);
                afterWarmUp.push_back(timeGrab(*server, rect, &ok));
            }
            auto server = WindowServer::connect({shm});
            if (shm && !server->usesSharedMemory())
                std::printf("(MIT-SHM unavailable: the shm figures are plain GetImage)\n");
            timeGrab(*server, rect, &ok);
            QThread::msleep(500);
            for (int i = 0; i < runs; ++i)
                warm.push_back(timeGrab(*server, rect, &ok));
            const char* mode = shm ? "shm" : "plain";
            std::printf(
                "%-5s %dx%d: cold first grab median %.1f ms (%zu fresh connections); warmUp() %.1f ms, "
                "first grab 0.5 s after it %.1f ms\n",
                mode, size.width(), size.height(), median(cold), cold.size(), median(warmUps),
                median(afterWarmUp));
            std::printf("%-5s %dx%d: warm median %.1f ms (min %.1f, max %.1f, %d grabs)%s\n", mode,
                        size.width(), size.height(), median(warm),
                        *std::min_element(warm.begin(), warm.end()),
                        *std::max_element(warm.begin(), warm.end()), runs, ok ? "" : "  SOME GRABS FAILED");
        }
    }
    {
        auto server = WindowServer::connect();
        std::vector<double> times;
        size_t count = 0;
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer t;
            t.start();
            const auto list = server->copyWindowInfo(true, true);
            times.push_back(double(t.nsecsElapsed()) / 1e6);
            count = list ? list->size() : 0;
        }
        std::printf("window list (%zu windows on screen): median %.2f ms\n", count, median(times));
    }
    return 0;
}
