#include "sound/NSBeep.h"

#include <gtest/gtest.h>

#include <xcb/xcb.h>
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

// Watches the display for XKB bell notifications.
class BellWatcher {
public:
    BellWatcher() : m_connection(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(m_connection.get()))
            return;
        const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(m_connection.get(), &xcb_xkb_id);
        if (!xkb || !xkb->present)
            return;
        m_firstEvent = xkb->first_event;
        auto cookie = xcb_xkb_use_extension(m_connection.get(), XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION);
        std::free(xcb_xkb_use_extension_reply(m_connection.get(), cookie, nullptr));
        xcb_xkb_select_events(m_connection.get(), XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_EVENT_TYPE_BELL_NOTIFY, 0,
                              XCB_XKB_EVENT_TYPE_BELL_NOTIFY, 0, 0, nullptr);
        std::free(
            xcb_get_input_focus_reply(m_connection.get(), xcb_get_input_focus(m_connection.get()), nullptr));
        m_ready = true;
    }

    bool ready() const { return m_ready; }

    int bellsWithin(std::chrono::milliseconds timeout) {
        int bells = 0;
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection.get())) {
                if ((event->response_type & 0x7f) == m_firstEvent &&
                    reinterpret_cast<xcb_xkb_bell_notify_event_t*>(event)->xkbType == XCB_XKB_BELL_NOTIFY)
                    ++bells;
                std::free(event);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return bells;
    }

private:
    struct Disconnect {
        void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
    };
    std::unique_ptr<xcb_connection_t, Disconnect> m_connection;
    std::uint8_t m_firstEvent = 0;
    bool m_ready = false;
};

} // namespace

TEST(NSBeep, RingsTheXBellOncePerCall) {
    BellWatcher watcher;
    ASSERT_TRUE(watcher.ready()) << "no X display with XKB";
    glimra::NSBeep();
    glimra::NSBeep();
    EXPECT_EQ(watcher.bellsWithin(std::chrono::milliseconds(1500)), 2);
}
