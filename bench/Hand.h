#pragma once
// A benchmark's hand on the keyboard and mouse of the display (XTest), with an eye on the windows
// mapped there.

#include "Spin.h"

#include <QPoint>
#include <QSize>
#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace benchmain {

inline double nowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline void pause(int ms) {
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
    // Modifiers down, the key down and up, modifiers up: a shortcut as fingers type it.
    void type(std::initializer_list<xcb_keysym_t> modifiers, xcb_keysym_t keysym) {
        for (xcb_keysym_t m : modifiers)
            key(m, true);
        key(keysym, true);
        key(keysym, false);
        for (xcb_keysym_t m : modifiers)
            key(m, false);
    }
    // Whether the window with the keyboard covers the screen (an overlay took it).
    bool keyboardOnScreenSizedWindow() {
        read();
        xcb_get_input_focus_reply_t* focus = xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr);
        const auto it = focus ? sizes_.find(focus->focus) : sizes_.end();
        std::free(focus);
        return it != sizes_.end() && it->second.width() >= screen_.width() &&
               it->second.height() >= screen_.height();
    }

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

} // namespace benchmain
