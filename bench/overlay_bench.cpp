// Crosshair overlay timings on the X server of $DISPLAY (the snapshot road unless a compositing
// manager runs):
//  - paint: one frame (pointer read, damage, painting, flush, and a round trip so the server has
//    shown it) after each of 500 synthetic pointer moves, while hunting and while dragging out a
//    selection; median and 99th percentile, beside the same frames repainted whole;
//  - map: orderFrontRegardless() until another X client sees MapNotify, beside a plain window.
//   overlay_bench [paint|map|all] [moves]

#include "ImageCaptureCrosshairOverlayWindow.h"
#include "overlay/OverlayDesktop.h"
#include "x11/X11Desktop.h"
#include "x11/X11WindowServer.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QRasterWindow>
#include <QScreen>
#include <QThread>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Mode = OverlayDrawState::Mode;

struct Figures {
    double median = 0, p99 = 0;
};

Figures figures(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    if (v.empty())
        return {};
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)]};
}

class SyntheticView : public OverlayContentView {
public:
    void mouseDown(CGPoint) override {}
    void mouseDragged(CGPoint, double, double) override {}
    void mouseUp(CGPoint) override {}
    void mouseMoved(CGPoint) override {}
    OverlayDrawState drawState() const override { return state; }
    OverlayDrawState state;
};

// A second client, as a real pointer and an observer of the overlay are.
class Observer {
public:
    Observer() : c_(xcb_connect(nullptr, nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    }
    ~Observer() { xcb_disconnect(c_); }
    void warp(int x, int y) {
        xcb_warp_pointer(c_, XCB_NONE, root_, 0, 0, 0, 0, int16_t(x), int16_t(y));
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }
    void watchMaps() {
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &mask);
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
        while (xcb_generic_event_t* e = xcb_poll_for_event(c_))
            std::free(e);
    }
    bool mapped(uint32_t window) {
        bool seen = false;
        while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
            if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                reinterpret_cast<xcb_map_notify_event_t*>(e)->window == window)
                seen = true;
            std::free(e);
        }
        return seen;
    }

private:
    xcb_connection_t* c_;
    xcb_window_t root_ = 0;
};

void pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void paintBench(glimra::OverlayDesktop& desktop, int moves) {
    Observer pointer;
    SyntheticView view;
    ImageCaptureCrosshairOverlayWindow overlay(desktop, QStringLiteral(GLIMRA_CROSSHAIR_IMAGES_DIR));
    overlay.setContentView(&view);
    overlay.orderFrontRegardless();
    pump(500);
    const CGSize size = overlay.boundsSize();
    const CGRect whole = NSMakeRect(0, 0, size.width, size.height);
    std::printf("desktop %gx%g points in %zu window(s), %d moves\n", size.width, size.height,
                overlay.windows().size(), moves);
    for (const bool dragging : {false, true}) {
        for (const bool full : {false, true}) {
            std::vector<double> times;
            for (int i = 0; i < moves; ++i) {
                // A pointer wandering over the desktop in small steps, as a hand moves it.
                const int x = 200 + (i * 7) % int(size.width - 400),
                          y = 150 + (i * 5) % int(size.height - 300);
                pointer.warp(x, y);
                view.state.mode = dragging ? Mode::FirstDrag : Mode::Idle;
                view.state.selection = NSMakeRect(150, size.height - 120, x - 150, 120 - y);
                view.state.topNumber = uint64_t(dragging ? x - 150 : x);
                view.state.bottomNumber = uint64_t(dragging ? y - 120 : y);
                QElapsedTimer t;
                t.start();
                if (full)
                    overlay.setNeedsDisplayInRect(whole);
                overlay.setNeedsDisplay();
                overlay.displayIfNeeded();
                desktop.sync();
                times.push_back(double(t.nsecsElapsed()) / 1e6);
                QCoreApplication::processEvents();
            }
            const Figures f = figures(times);
            std::printf("  %-8s %-13s median %6.2f ms   p99 %6.2f ms\n", dragging ? "dragging" : "hunting",
                        full ? "(full frame)" : "(changes)", f.median, f.p99);
        }
    }
}

void mapBench(glimra::OverlayDesktop& desktop, int runs) {
    Observer observer;
    std::vector<double> overlayTimes, createAndShow, plain;
    for (int i = 0; i < runs; ++i) {
        SyntheticView view;
        QElapsedTimer t;
        t.start();
        auto overlay = std::make_unique<ImageCaptureCrosshairOverlayWindow>(
            desktop, QStringLiteral(GLIMRA_CROSSHAIR_IMAGES_DIR));
        overlay->setContentView(&view);
        const double made = double(t.nsecsElapsed()) / 1e6;
        observer.watchMaps();
        t.restart();
        overlay->orderFrontRegardless();
        overlay->makeKeyWindow();
        while (!observer.mapped(overlay->windowNumber()))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        const double shown = double(t.nsecsElapsed()) / 1e6;
        overlayTimes.push_back(shown);
        createAndShow.push_back(made + shown);
        overlay.reset();
        pump(150);

        QRasterWindow window;
        window.setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        window.setGeometry(QGuiApplication::primaryScreen()->geometry());
        window.create();
        observer.watchMaps();
        t.restart();
        window.show();
        while (!observer.mapped(uint32_t(window.winId())))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        plain.push_back(double(t.nsecsElapsed()) / 1e6);
        window.hide();
        pump(150);
    }
    const Figures o = figures(overlayTimes), c = figures(createAndShow), p = figures(plain);
    std::printf("show() to MapNotify, %d runs: overlay median %.1f ms (p99 %.1f); made and shown %.1f ms;"
                " a plain window %.1f ms\n",
                runs, o.median, o.p99, c.median, p.median);
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const char* what = argc > 1 ? argv[1] : "all";
    const int moves = argc > 2 ? std::max(10, std::atoi(argv[2])) : 500;
    auto server = glimra::x11::X11WindowServer::connect();
    auto desktop = server ? glimra::x11::X11Desktop().makeOverlayDesktop(*server) : nullptr;
    if (!desktop) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    // Warm grab buffers, as the helper has them a second after start-up.
    server->warmUp();
    pump(1500);
    if (!std::strcmp(what, "paint") || !std::strcmp(what, "all"))
        paintBench(*desktop, moves);
    if (!std::strcmp(what, "map") || !std::strcmp(what, "all"))
        mapBench(*desktop, 15);
    return 0;
}
