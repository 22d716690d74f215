// The region capture with its resize panel, end to end (prints figures; not a test). This program is
// the main application (MainAppSide.h) and drives the real helper through XTest like a hand:
//  - Ctrl+Shift+5, a drag, and from letting go of the button until another X client sees the
//    MapNotify of the resize panel;
//  - a click on Capture (under the pointer) until the PNG of the selection is on the main
//    application's disk (the helper waits 0.1 s for its windows to leave the screen first);
//  - beside them, in the same rounds: message 6 until the full screen's PNG is on disk.
// Run inside a headless session, at 3840x2160 for the README's figures:
//   scripts/with-session --geometry 3840x2160x24 build/bench/region_capture_bench [--runs N] [--helper PATH]

#include "MainAppSide.h"

#include <QApplication>
#include <QScreen>
#include <QSocketNotifier>

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <chrono>
#include <map>

using namespace benchmain;

namespace {

double nowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void pause(int ms) {
    spin([] { return false; }, ms);
}

// A second client of the display: the hand on the keyboard and mouse, and an eye on the windows
// mapped. Its events are read as they arrive (the event loop wakes on its socket), so a map is timed
// when it reaches this client.
class Hand {
public:
    Hand() : c_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(c_))
            return;
        const xcb_screen_t* s = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        root_ = s->root;
        screen_ = QSize(s->width_in_pixels, s->height_in_pixels);
        symbols_ = xcb_key_symbols_alloc(c_);
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(c_);
        notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c_), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { read(); });
    }
    ~Hand() {
        notifier_.reset();
        if (symbols_)
            xcb_key_symbols_free(symbols_);
        xcb_disconnect(c_);
    }
    Hand(const Hand&) = delete;
    Hand& operator=(const Hand&) = delete;

    bool ok() const { return root_ != 0; }

    void key(xcb_keysym_t keysym, bool press) {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, keysym);
        send(press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, codes ? codes[0] : 0);
        std::free(codes);
    }
    void moveTo(QPoint p) {
        xcb_test_fake_input(c_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root_, int16_t(p.x()), int16_t(p.y()),
                            0);
        xcb_flush(c_);
    }
    void button(bool press) { send(press ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, 1); }

    // Windows mapped so far.
    size_t maps() const { return maps_.size(); }
    // When the first window after the first `since` maps that covers the screen (or, with
    // screenSized false, that does not) was seen mapped; nullopt after timeoutMs.
    std::optional<double> waitForMap(size_t since, bool screenSized, int timeoutMs = 10000) {
        std::optional<double> at;
        spin(
            [&] {
                read();
                for (size_t i = since; i < maps_.size() && !at; ++i) {
                    const QSize size = sizes_[maps_[i].first];
                    if ((size.width() >= screen_.width() && size.height() >= screen_.height()) == screenSized)
                        at = maps_[i].second;
                }
                return at.has_value();
            },
            timeoutMs);
        return at;
    }

private:
    void send(uint8_t type, uint8_t detail) {
        xcb_test_fake_input(c_, type, detail, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_flush(c_);
    }
    void read() {
        while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
            switch (e->response_type & 0x7f) {
            case XCB_CREATE_NOTIFY: {
                const auto* n = reinterpret_cast<xcb_create_notify_event_t*>(e);
                sizes_[n->window] = QSize(n->width, n->height);
                break;
            }
            case XCB_CONFIGURE_NOTIFY: {
                const auto* n = reinterpret_cast<xcb_configure_notify_event_t*>(e);
                sizes_[n->window] = QSize(n->width, n->height);
                break;
            }
            case XCB_MAP_NOTIFY:
                maps_.emplace_back(reinterpret_cast<xcb_map_notify_event_t*>(e)->window, nowMs());
                break;
            default:
                break;
            }
            std::free(e);
        }
    }

    xcb_connection_t* c_;
    xcb_window_t root_ = 0;
    QSize screen_;
    xcb_key_symbols_t* symbols_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::map<xcb_window_t, QSize> sizes_;
    std::vector<std::pair<xcb_window_t, double>> maps_;
};

struct Figures {
    std::vector<double> values;
    void add(std::optional<double> v) {
        if (v)
            values.push_back(*v);
    }
    double slowest() const { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }
};

void print(const char* what, const Figures& f) {
    if (f.values.empty())
        std::printf("  %-52s no figure\n", what);
    else
        std::printf("  %-52s median %6.1f ms, first %6.1f, slowest %6.1f (%zu runs)\n", what,
                    median(f.values), f.values.front(), f.slowest(), f.values.size());
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const BenchOptions options = parseBenchOptions(app);
    const ScreenContent shown;
    const QSize size = shown.size();
    QTemporaryDir work;
    HelperUnderTest helper(work, options.helper);
    Hand hand;
    if (!helper.ready() || !hand.ok())
        return 1;
    pause(1500); // the helper readies its grab buffers and a resize panel a second after start-up

    // A selection of a quarter of the screen, ending where the panel has room.
    const QRect selection(size.width() / 6, size.height() / 6, size.width() / 2, size.height() / 2);
    const QPoint end = selection.topLeft() + QPoint(selection.width(), selection.height());
    Figures overlay, panel, region, fullScreen;
    // From `from` (ms) until the first window mapped after `since` that covers the screen (or not);
    // false when none came.
    const auto mapped = [&](Figures& figures, size_t since, double from, bool screenSized, const char* what) {
        const std::optional<double> at = hand.waitForMap(since, screenSized);
        if (!at)
            std::fprintf(stderr, "no %s\n", what);
        else
            figures.add(*at - from);
        return at.has_value();
    };
    double pixelsRight = 1;
    for (int i = 0; i < options.runs; ++i) {
        size_t since = hand.maps();
        hand.key(XK_Control_L, true);
        hand.key(XK_Shift_L, true);
        hand.key(XK_5, true);
        const double typed = nowMs();
        hand.key(XK_5, false);
        hand.key(XK_Shift_L, false);
        hand.key(XK_Control_L, false);
        if (!mapped(overlay, since, typed, true, "overlay"))
            continue;
        pause(300);

        hand.moveTo(selection.topLeft());
        hand.button(true);
        hand.moveTo(selection.center());
        hand.moveTo(end);
        pause(150);
        since = hand.maps();
        const double letGo = nowMs();
        hand.button(false);
        if (!mapped(panel, since, letGo, false, "resize panel"))
            continue;
        pause(300);

        // Capture acts when the button comes up.
        hand.button(true);
        pause(60);
        helper.peer.startTiming();
        hand.button(false);
        region.add(helper.peer.waitForSaved());
        if (i == 0)
            pixelsRight = sameShare(QImage(helper.peer.lastPath()), shown.image().copy(selection));
        helper.clearShots();
        pause(300);

        fullScreen.add(helper.peer.capture());
        helper.clearShots();
        pause(300);
    }

    std::printf("%dx%d, %d rounds, load average %.1f at the end\n", size.width(), size.height(), options.runs,
                loadAverage());
    print("first mouse-up -> resize panel mapped", panel);
    const QString regionLabel = QStringLiteral("Capture click -> PNG on disk, %1x%2%3")
                                    .arg(selection.width())
                                    .arg(selection.height())
                                    .arg(pixelsRight > 0.99 ? "" : " (WRONG PIXELS)");
    print(qPrintable(regionLabel), region);
    print("full screen: message 6 -> PNG on disk", fullScreen);
    print("(Ctrl+Shift+5 released -> overlay mapped)", overlay);
    std::printf("  Capture waits 0.1 s for the overlay and the panel to leave the screen before it grabs.\n");
    return panel.values.size() == size_t(options.runs) && region.values.size() == size_t(options.runs) ? 0
                                                                                                       : 1;
}
