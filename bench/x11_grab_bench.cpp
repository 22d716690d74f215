// Median times of full-HD and 4K grabs through the X11 window server: the first grab of a fresh
// connection (cold: new shared memory segment, new pixel buffer) and repeated grabs (warm), with
// MIT-SHM and with plain GetImage, beside the floor of a bare xcb_shm_get_image into a segment already
// touched on both sides; and the window list. Needs a root window of at least 3840 x 2160 for the
// 4K figures:
//   scripts/with-session --geometry 3840x2160x24 x11_grab_bench [runs]

#include "x11/X11WindowServer.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using glimra::x11::X11WindowServer;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double timeGrab(X11WindowServer& server, const QRectF& rect, bool* ok) {
    QElapsedTimer t;
    t.start();
    const QImage image = server.createImage(rect);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    *ok = *ok && !image.isNull();
    return ms;
}

// The floor: xcb_shm_get_image of the root's top-left corner into a segment that both sides have
// touched already, nothing else. Median in ms; 0 without MIT-SHM.
double bareShmGrabMs(const QSize& size, int runs) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return 0;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const std::size_t bytes = std::size_t(size.width()) * 4 * std::size_t(size.height());
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    void* address = id >= 0 ? shmat(id, nullptr, 0) : reinterpret_cast<void*>(-1);
    std::vector<double> times;
    if (address != reinterpret_cast<void*>(-1)) {
        std::memset(address, 0, bytes);
        const xcb_shm_seg_t seg = xcb_generate_id(c);
        xcb_generic_error_t* error = xcb_request_check(c, xcb_shm_attach_checked(c, seg, uint32_t(id), 0));
        for (int i = 0; !error && i <= runs; ++i) { // the first one faults the server's side in
            QElapsedTimer t;
            t.start();
            std::free(xcb_shm_get_image_reply(c,
                                              xcb_shm_get_image(c, root, 0, 0, uint16_t(size.width()),
                                                                uint16_t(size.height()), ~0u,
                                                                XCB_IMAGE_FORMAT_Z_PIXMAP, seg, 0),
                                              nullptr));
            if (i > 0)
                times.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        std::free(error);
        shmdt(address);
    }
    if (id >= 0)
        shmctl(id, IPC_RMID, nullptr);
    xcb_disconnect(c);
    return times.empty() ? 0 : median(times);
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
    const QRectF desktop = [] {
        auto probe = X11WindowServer::connect();
        return probe ? glimra::boundingRectInPoints(probe->screens()) : QRectF();
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
                    auto server = X11WindowServer::connect({shm});
                    cold.push_back(timeGrab(*server, rect, &ok));
                }
                QThread::msleep(500);
                auto server = X11WindowServer::connect({shm});
                QElapsedTimer t;
                t.start();
                server->warmUp();
                warmUps.push_back(double(t.nsecsElapsed()) / 1e6);
                QThread::msleep(500);
                afterWarmUp.push_back(timeGrab(*server, rect, &ok));
            }
            auto server = X11WindowServer::connect({shm});
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
            if (shm)
                std::printf("      %dx%d: bare xcb_shm_get_image into a touched segment, median %.1f ms\n",
                            size.width(), size.height(), bareShmGrabMs(size, runs));
        }
    }
    {
        auto server = X11WindowServer::connect();
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
