#pragma once
// What integration tests observe and do on an X server of their choice: bells, windows mapped, the
// pointer, keys, mouse buttons, the screen's pixels, and a cover window whose pixels are known.

#include <QCoreApplication>
#include <QImage>
#include <QRect>
#include <QString>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <chrono>
#include <cstdlib>
#include <initializer_list>
#include <thread>
#include <vector>

namespace capturetest {

// One connection to the display named name (DISPLAY when empty).
class XClient {
public:
    explicit XClient(const QString& name = QString())
        : c_(xcb_connect(name.isEmpty() ? nullptr : name.toLocal8Bit().constData(), nullptr)) {
        if (!xcb_connection_has_error(c_))
            root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    }
    ~XClient() {
        if (symbols_)
            xcb_key_symbols_free(symbols_);
        xcb_disconnect(c_);
    }
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    bool ok() const { return root_ != 0; }
    xcb_connection_t* connection() const { return c_; }
    xcb_window_t root() const { return root_; }
    void sync() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

    // Starts counting XKB bell notifications of every client of the display.
    bool watchBells() {
        const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(c_, &xcb_xkb_id);
        if (!xkb || !xkb->present)
            return false;
        xkbEvent_ = xkb->first_event;
        std::free(xcb_xkb_use_extension_reply(
            c_, xcb_xkb_use_extension(c_, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION), nullptr));
        xcb_xkb_select_events(c_, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_EVENT_TYPE_BELL_NOTIFY, 0,
                              XCB_XKB_EVENT_TYPE_BELL_NOTIFY, 0, 0, nullptr);
        sync();
        return true;
    }
    // Bells rung so far, after waiting until there are at least `atLeast` (or timeout) and then for
    // `settle` more, so that a bell too many has the time to show.
    int bells(int atLeast, std::chrono::milliseconds timeout, std::chrono::milliseconds settle) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (bells_ < atLeast && std::chrono::steady_clock::now() < end)
            drain();
        const auto settled = std::chrono::steady_clock::now() + settle;
        while (std::chrono::steady_clock::now() < settled)
            drain();
        return bells_;
    }

    // Starts counting the windows mapped on the root (override-redirect ones and window-manager frames).
    void watchMaps() {
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &mask);
        sync();
    }
    // Every window mapped since, oldest first.
    const std::vector<xcb_window_t>& mapped() {
        drain();
        return mapped_;
    }
    QString windowName(xcb_window_t w) {
        xcb_get_property_reply_t* r = xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr);
        const QString name = r ? QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(r)),
                                                   xcb_get_property_value_length(r))
                               : QString();
        std::free(r);
        return name;
    }

    // Where a window lies on the root, in root pixels (empty when it is gone).
    QRect rootGeometry(xcb_window_t w) {
        xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr);
        xcb_translate_coordinates_reply_t* t =
            g ? xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, w, root_, 0, 0), nullptr)
              : nullptr;
        const QRect r = t ? QRect(t->dst_x, t->dst_y, g->width, g->height) : QRect();
        std::free(g);
        std::free(t);
        return r;
    }

    void warpPointer(int x, int y) {
        xcb_warp_pointer(c_, XCB_NONE, root_, 0, 0, 0, 0, int16_t(x), int16_t(y));
        sync();
    }

    // The pointer through XTest, as a real mouse moves it (warpPointer only teleports it).
    void motion(int x, int y) {
        xcb_test_fake_input(c_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root_, int16_t(x), int16_t(y), 0);
        sync();
    }
    void button(uint8_t number, bool press) {
        xcb_test_fake_input(c_, press ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, number, XCB_CURRENT_TIME,
                            XCB_NONE, 0, 0, 0);
        sync();
    }

    void click(int x, int y) {
        motion(x, y);
        button(1, true);
        button(1, false);
    }

    xcb_keycode_t keycode(xcb_keysym_t keysym) {
        if (!symbols_)
            symbols_ = xcb_key_symbols_alloc(c_);
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, keysym);
        const xcb_keycode_t code = codes ? codes[0] : 0;
        std::free(codes);
        return code;
    }
    void key(xcb_keysym_t keysym, bool press) {
        xcb_test_fake_input(c_, press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode(keysym), XCB_CURRENT_TIME,
                            XCB_NONE, 0, 0, 0);
    }
    // Holds the modifiers down while the key is pressed and released, as a user types a shortcut.
    void type(std::initializer_list<xcb_keysym_t> modifiers, xcb_keysym_t keysym) {
        for (const xcb_keysym_t m : modifiers)
            key(m, true);
        key(keysym, true);
        key(keysym, false);
        for (auto m = std::rbegin(modifiers); m != std::rend(modifiers); ++m)
            key(*m, false);
        sync();
    }

    // The root window's pixels in rect (root pixels).
    QImage pixels(const QRect& rect) {
        xcb_get_image_reply_t* r = xcb_get_image_reply(
            c_,
            xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, int16_t(rect.x()), int16_t(rect.y()),
                          uint16_t(rect.width()), uint16_t(rect.height()), ~0u),
            nullptr);
        QImage image;
        if (r && xcb_get_image_data_length(r) == rect.width() * rect.height() * 4)
            image = QImage(xcb_get_image_data(r), rect.width(), rect.height(), rect.width() * 4,
                           QImage::Format_RGB32)
                        .copy();
        std::free(r);
        return image;
    }

    // Whether some other client holds a passive grab of keysym with modifiers.
    bool keyIsGrabbed(xcb_keysym_t keysym, uint16_t modifiers) {
        xcb_generic_error_t* error =
            xcb_request_check(c_, xcb_grab_key_checked(c_, 0, root_, modifiers, keycode(keysym),
                                                       XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        const bool taken = error != nullptr;
        std::free(error);
        if (!taken)
            xcb_ungrab_key(c_, keycode(keysym), root_, modifiers);
        sync();
        return taken;
    }

    // An override-redirect window at (0, 0) showing image, above everything else.
    xcb_window_t cover(const QImage& source) {
        const QImage image = source.convertToFormat(QImage::Format_RGB32);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        const xcb_pixmap_t pixmap = xcb_generate_id(c_);
        xcb_create_pixmap(c_, screen->root_depth, pixmap, root_, uint16_t(image.width()),
                          uint16_t(image.height()));
        const xcb_gcontext_t gc = xcb_generate_id(c_);
        xcb_create_gc(c_, gc, pixmap, 0, nullptr);
        // Row bands keep each request under the server's maximum request size.
        const int rows = std::max(1, 60000 / image.width());
        for (int y = 0; y < image.height(); y += rows) {
            const int n = std::min(rows, image.height() - y);
            xcb_put_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, uint16_t(image.width()), uint16_t(n), 0,
                          int16_t(y), 0, screen->root_depth, uint32_t(n * image.bytesPerLine()),
                          image.constScanLine(y));
        }
        const xcb_window_t window = xcb_generate_id(c_);
        const uint32_t values[] = {pixmap, 1};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, root_, 0, 0, uint16_t(image.width()),
                          uint16_t(image.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(c_, window);
        xcb_free_gc(c_, gc);
        xcb_free_pixmap(c_, pixmap);
        sync();
        return window;
    }

private:
    void drain() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
            if ((event->response_type & 0x7f) == xkbEvent_ &&
                reinterpret_cast<xcb_xkb_bell_notify_event_t*>(event)->xkbType == XCB_XKB_BELL_NOTIFY)
                ++bells_;
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY)
                mapped_.push_back(reinterpret_cast<xcb_map_notify_event_t*>(event)->window);
            std::free(event);
        }
        // XPC replies of the test itself are delivered by the event loop.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    xcb_connection_t* c_;
    xcb_window_t root_ = 0;
    xcb_key_symbols_t* symbols_ = nullptr;
    uint8_t xkbEvent_ = 0;
    int bells_ = 0;
    std::vector<xcb_window_t> mapped_;
};

} // namespace capturetest
