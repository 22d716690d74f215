// From a region shortcut to its overlay on screen (prints figures; not a test). Typed through XTest,
// timed from the key's release until this client sees the MapNotify of a window covering the screen:
//  - the running helper's Ctrl+Shift+5 (Escape closes the overlay again after each run), also until
//    the overlay's pixels are on screen: a few points of the root window (on each RandR monitor), read
//    about every millisecond after the release, show the desktop dimmed (Dimming.h);
//  - the floor of any hot-key program: this program's own grab of Ctrl+Shift+7 mapping a plain
//    window of the screen's size;
//  - with --flameshot, `flameshot gui` (its daemon running) from the command's start to its overlay.
// bench/shortcut_overlay_bench.sh starts the helper and the rest on a 3840x2160 session (or monitors
// of other sizes). Prints a ROW line for bench/wayland_bench.sh.
//   shortcut_overlay_bench [runs] [--flameshot]

#include "Dimming.h"

#include <X11/keysym.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using benchmain::DimmingProbe;
using benchmain::Point;

double nowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

class Display {
public:
    Display() : c_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(c_))
            return;
        const xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        root_ = s->root;
        width_ = s->width_in_pixels;
        height_ = s->height_in_pixels;
        symbols_ = xcb_key_symbols_alloc(c_);
    }
    ~Display() {
        if (symbols_)
            xcb_key_symbols_free(symbols_);
        xcb_disconnect(c_);
    }
    bool ok() const { return root_ != 0; }
    xcb_connection_t* c() const { return c_; }
    xcb_window_t root() const { return root_; }
    uint16_t width() const { return width_; }
    uint16_t height() const { return height_; }

    xcb_keycode_t code(xcb_keysym_t keysym) {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, keysym);
        const xcb_keycode_t code = codes ? codes[0] : 0;
        std::free(codes);
        return code;
    }
    void key(xcb_keysym_t keysym, bool press) {
        xcb_test_fake_input(c_, press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, code(keysym), XCB_CURRENT_TIME,
                            XCB_NONE, 0, 0, 0);
    }
    void sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

    // The next event of one of the types, or nullptr after timeoutMs; *at is when it was read.
    xcb_generic_event_t* next(std::initializer_list<uint8_t> types, int timeoutMs, double* at) {
        const double end = nowMs() + timeoutMs;
        for (;;) {
            while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
                const uint8_t type = e->response_type & 0x7f;
                if (std::find(types.begin(), types.end(), type) != types.end()) {
                    if (at)
                        *at = nowMs();
                    return e;
                }
                std::free(e);
            }
            const double left = end - nowMs();
            if (left <= 0)
                return nullptr;
            pollfd fd{xcb_get_file_descriptor(c_), POLLIN, 0};
            poll(&fd, 1, int(std::min(left, 50.0)) + 1);
        }
    }

    bool coversScreen(xcb_window_t w) {
        xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr);
        const bool covers = g && g->width >= width_ && g->height >= height_;
        std::free(g);
        return covers;
    }

    // The first window covering the screen mapped from now on; *at is when its MapNotify was read.
    xcb_window_t waitForScreenSizedMap(int timeoutMs, double* at) {
        const double end = nowMs() + timeoutMs;
        while (nowMs() < end) {
            xcb_generic_event_t* e = next({XCB_MAP_NOTIFY}, int(end - nowMs()), at);
            if (!e)
                return XCB_NONE;
            const xcb_window_t w = reinterpret_cast<xcb_map_notify_event_t*>(e)->window;
            std::free(e);
            if (coversScreen(w))
                return w;
        }
        return XCB_NONE;
    }
    bool waitForUnmap(xcb_window_t w, int timeoutMs) {
        const double end = nowMs() + timeoutMs;
        while (nowMs() < end) {
            xcb_generic_event_t* e =
                next({XCB_UNMAP_NOTIFY, XCB_DESTROY_NOTIFY}, int(end - nowMs()), nullptr);
            if (!e)
                return false;
            const bool gone = reinterpret_cast<xcb_unmap_notify_event_t*>(e)->window == w;
            std::free(e);
            if (gone)
                return true;
        }
        return false;
    }
    // The root window's pixels at the points, 0xRRGGBB (one round trip for all).
    std::vector<uint32_t> pixels(const std::vector<Point>& points) {
        std::vector<xcb_get_image_cookie_t> cookies;
        for (const Point& p : points)
            cookies.push_back(
                xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, int16_t(p.x), int16_t(p.y), 1, 1, ~0u));
        std::vector<uint32_t> out;
        for (xcb_get_image_cookie_t cookie : cookies) {
            xcb_get_image_reply_t* r = xcb_get_image_reply(c_, cookie, nullptr);
            uint32_t pixel = 0;
            if (r && xcb_get_image_data_length(r) >= 4)
                std::memcpy(&pixel, xcb_get_image_data(r), 4);
            out.push_back(pixel & 0xffffff);
            std::free(r);
        }
        return out;
    }
    // Points spread over every RandR monitor (the whole root window without any).
    std::vector<Point> probeCandidates() {
        std::vector<Point> points;
        xcb_randr_get_monitors_reply_t* r =
            xcb_randr_get_monitors_reply(c_, xcb_randr_get_monitors(c_, root_, 1), nullptr);
        for (auto it = r ? xcb_randr_get_monitors_monitors_iterator(r) : xcb_randr_monitor_info_iterator_t{};
             r && it.rem; xcb_randr_monitor_info_next(&it)) {
            const std::vector<Point> grid =
                benchmain::gridPoints(it.data->x, it.data->y, it.data->width, it.data->height);
            points.insert(points.end(), grid.begin(), grid.end());
        }
        std::free(r);
        return points.empty() ? benchmain::gridPoints(0, 0, width_, height_) : points;
    }
    void watchRoot() {
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &mask);
        sync();
    }

private:
    xcb_connection_t* c_;
    xcb_window_t root_ = 0;
    uint16_t width_ = 0, height_ = 0;
    xcb_key_symbols_t* symbols_ = nullptr;
};

struct Figures {
    double median = 0, p90 = 0, max = 0;
    int runs = 0;
};

Figures figures(std::vector<double> v) {
    Figures f;
    if (v.empty())
        return f;
    std::sort(v.begin(), v.end());
    f.median = v[v.size() / 2];
    f.p90 = v[std::min(v.size() - 1, v.size() * 9 / 10)];
    f.max = v.back();
    f.runs = int(v.size());
    return f;
}

// Ctrl+Shift+key pressed; the time just before the key's release goes out.
double typeShortcut(Display& d, xcb_keysym_t keysym) {
    d.key(XK_Control_L, true);
    d.key(XK_Shift_L, true);
    d.key(keysym, true);
    d.sync();
    const double t0 = nowMs();
    d.key(keysym, false);
    d.key(XK_Shift_L, false);
    d.key(XK_Control_L, false);
    xcb_flush(d.c());
    return t0;
}

void closeWithEscape(Display& d, xcb_window_t overlay) {
    sleepMs(300); // as a user looks before deciding
    d.key(XK_Escape, true);
    d.key(XK_Escape, false);
    d.sync();
    if (!d.waitForUnmap(overlay, 5000))
        std::fprintf(stderr, "the overlay did not close on Escape\n");
    sleepMs(400); // back to idle (the cancelled capture reports on the main queue)
}

// The helper's overlay: until its MapNotify, and until its pixels show on screen.
std::pair<Figures, Figures> helperRuns(Display& d, int runs) {
    const std::vector<Point> candidates = d.probeCandidates();
    std::vector<double> mappedMs, shownMs;
    for (int i = 0; i < runs; ++i) {
        const DimmingProbe probe(candidates, d.pixels(candidates));
        double mapped = 0, shown = 0;
        const double t0 = typeShortcut(d, XK_5);
        const xcb_window_t overlay = d.waitForScreenSizedMap(5000, &mapped);
        if (!overlay) {
            std::fprintf(stderr, "run %d: no overlay from the helper\n", i);
            continue;
        }
        mappedMs.push_back(mapped - t0);
        for (const double end = nowMs() + 5000; !shown && nowMs() < end; sleepMs(1))
            if (probe.holds(DimmingProbe::dimmed, d.pixels(probe.points())))
                shown = nowMs();
        if (shown)
            shownMs.push_back(shown - t0);
        else
            std::fprintf(stderr, "run %d: the overlay's pixels did not show\n", i);
        closeWithEscape(d, overlay);
    }
    return {figures(mappedMs), figures(shownMs)};
}

// The least any program that answers a hot key with a window needs: the key event's trip to the
// client and the map of a window made beforehand.
Figures floorRuns(Display& d, int runs) {
    Display program;
    const xcb_keycode_t seven = program.code(XK_7);
    xcb_grab_key(program.c(), 0, program.root(), XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT, seven,
                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    const xcb_window_t w = xcb_generate_id(program.c());
    const uint32_t values[] = {0x202020, 1};
    xcb_create_window(program.c(), XCB_COPY_FROM_PARENT, w, program.root(), 0, 0, program.width(),
                      program.height(), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    program.sync();
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        double mapped = 0;
        const double t0 = typeShortcut(d, XK_7);
        for (;;) {
            xcb_generic_event_t* e = program.next({XCB_KEY_RELEASE}, 5000, nullptr);
            const bool ours = e && reinterpret_cast<xcb_key_release_event_t*>(e)->detail == seven;
            const bool timedOut = !e;
            std::free(e);
            if (ours || timedOut)
                break;
        }
        xcb_map_window(program.c(), w);
        xcb_flush(program.c());
        if (d.waitForScreenSizedMap(5000, &mapped) == w)
            times.push_back(mapped - t0);
        xcb_unmap_window(program.c(), w);
        program.sync();
        d.waitForUnmap(w, 5000);
        sleepMs(100);
    }
    return figures(times);
}

Figures flameshotRuns(Display& d, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        char program[] = "flameshot", gui[] = "gui";
        char* argv[] = {program, gui, nullptr};
        double mapped = 0;
        pid_t pid = 0;
        const double t0 = nowMs();
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
        const int spawned = posix_spawnp(&pid, "flameshot", &quiet, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&quiet);
        if (spawned != 0) {
            std::fprintf(stderr, "flameshot did not start\n");
            break;
        }
        const xcb_window_t overlay = d.waitForScreenSizedMap(10000, &mapped);
        if (overlay) {
            times.push_back(mapped - t0);
            closeWithEscape(d, overlay);
        } else {
            std::fprintf(stderr, "run %d: no overlay from flameshot\n", i);
        }
        waitpid(pid, nullptr, 0);
    }
    return figures(times);
}

void print(const char* what, const Figures& f) {
    if (f.runs == 0)
        std::printf("  %-58s no figure\n", what);
    else
        std::printf("  %-58s median %6.1f ms, p90 %6.1f, slowest %6.1f ms (%d runs)\n", what, f.median, f.p90,
                    f.max, f.runs);
}

} // namespace

int main(int argc, char** argv) {
    int runs = 20;
    bool flameshot = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--flameshot"))
            flameshot = true;
        else
            runs = std::max(1, std::atoi(argv[i]));
    }
    Display d;
    if (!d.ok()) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    d.watchRoot();
    const auto [helper, shown] = helperRuns(d, runs);
    const Figures floor = floorRuns(d, runs);
    const Figures other = flameshot ? flameshotRuns(d, runs) : Figures{};
    std::printf("Shortcut key release to the overlay's MapNotify, %ux%u:\n", d.width(), d.height());
    print("Glimra Helper, Ctrl+Shift+5", helper);
    print("Glimra Helper, Ctrl+Shift+5, until its pixels show", shown);
    print("floor: a bare client's own hot key mapping a plain window", floor);
    if (flameshot)
        print("flameshot gui, daemon running (from the command)", other);
    else
        std::printf("  %-58s not installed\n", "flameshot gui");
    std::printf("ROW %ux%u %.1f %.1f %.1f %.1f\n", d.width(), d.height(), helper.median, shown.median,
                shown.p90, floor.median);
    return helper.runs > 0 ? 0 : 1;
}
