#include "TestWindows.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace x11test {

TestDisplay::TestDisplay() {
    c_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c_))
        throw std::runtime_error("no X display for the test windows");
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    root_ = screen->root;
    depth_ = screen->root_depth;
}

TestDisplay::~TestDisplay() {
    xcb_disconnect(c_);
}

xcb_window_t TestDisplay::create(const WindowSpec& request) {
    const xcb_window_t w = xcb_generate_id(c_);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    if (request.inputOnly) {
        const uint32_t values[] = {request.overrideRedirect ? 1u : 0u};
        xcb_create_window(c_, 0, w, root_, int16_t(request.rect.x()), int16_t(request.rect.y()),
                          uint16_t(request.rect.width()), uint16_t(request.rect.height()), 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT,
                          values);
        return w;
    }
    uint32_t background = request.colour;
    uint32_t mask = XCB_CW_BACK_PIXEL;
    xcb_pixmap_t pixmap = XCB_NONE;
    if (request.pattern) {
        const int width = request.rect.width(), height = request.rect.height();
        pixmap = xcb_generate_id(c_);
        xcb_create_pixmap(c_, depth_, pixmap, root_, uint16_t(width), uint16_t(height));
        const xcb_gcontext_t gc = xcb_generate_id(c_);
        xcb_create_gc(c_, gc, pixmap, 0, nullptr);
        const int band = std::max(1, 60000 / width); // well inside the core request size
        std::vector<uint32_t> pixels;
        for (int y0 = 0; y0 < height; y0 += band) {
            const int rows = std::min(band, height - y0);
            pixels.resize(size_t(width) * size_t(rows));
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < width; ++x)
                    pixels[size_t(y) * size_t(width) + size_t(x)] = patternPixel(x, y0 + y);
            xcb_put_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, uint16_t(width), uint16_t(rows), 0,
                          int16_t(y0), 0, depth_, uint32_t(pixels.size() * 4),
                          reinterpret_cast<const uint8_t*>(pixels.data()));
        }
        xcb_free_gc(c_, gc);
        background = pixmap;
        mask = XCB_CW_BACK_PIXMAP;
    }
    const uint32_t values[] = {background, request.overrideRedirect ? 1u : 0u};
    xcb_create_window(c_, depth_, w, root_, int16_t(request.rect.x()), int16_t(request.rect.y()),
                      uint16_t(request.rect.width()), uint16_t(request.rect.height()), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, mask | XCB_CW_OVERRIDE_REDIRECT,
                      values);
    if (pixmap)
        xcb_free_pixmap(c_, pixmap); // the window keeps its background
    // Where the test asked for it, also under a window manager.
    const uint32_t hints[18] = {1 | 2 | 4 | 8, 0, 0, 0, 0}; // USPosition | USSize | PPosition | PSize
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32,
                        18, hints);
    return w;
}

void TestDisplay::map(xcb_window_t w) {
    xcb_map_window(c_, w);
    sync();
}
void TestDisplay::unmap(xcb_window_t w) {
    xcb_unmap_window(c_, w);
    sync();
}
void TestDisplay::destroy(xcb_window_t w) {
    xcb_destroy_window(c_, w);
    sync();
}
void TestDisplay::raise(xcb_window_t w) {
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c_, w, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    sync();
}
void TestDisplay::setColour(xcb_window_t w, uint32_t colour) {
    xcb_change_window_attributes(c_, w, XCB_CW_BACK_PIXEL, &colour);
    xcb_clear_area(c_, 0, w, 0, 0, 0, 0);
    sync();
}

xcb_atom_t TestDisplay::atom(const char* name) {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : XCB_NONE;
    free(r);
    return a;
}

void TestDisplay::setCardinal(xcb_window_t w, const char* property, uint32_t value) {
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom(property), XCB_ATOM_CARDINAL, 32, 1, &value);
}

void TestDisplay::setAtoms(xcb_window_t w, const char* property, std::initializer_list<const char*> values) {
    std::vector<xcb_atom_t> atoms;
    for (const char* v : values)
        atoms.push_back(atom(v));
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom(property), XCB_ATOM_ATOM, 32,
                        uint32_t(atoms.size()), atoms.data());
}

void TestDisplay::setString(xcb_window_t w, const char* property, const char* type,
                            const std::string& value) {
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom(property), atom(type), 8, uint32_t(value.size()),
                        value.data());
}

void TestDisplay::sendToWindowManager(xcb_window_t w, const char* message,
                                      std::initializer_list<uint32_t> data) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = w;
    event.type = atom(message);
    int i = 0;
    for (uint32_t v : data)
        event.data.data32[i++] = v;
    xcb_send_event(c_, 0, root_, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    sync();
}

bool TestDisplay::waitForButtonPress(int timeoutMs) {
    bool pressed = false;
    waitUntil(
        [&] {
            while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
                pressed |= (e->response_type & 0x7f) == XCB_BUTTON_PRESS;
                free(e);
            }
            return pressed;
        },
        timeoutMs);
    return pressed;
}

void TestDisplay::sync() {
    free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
}

bool TestDisplay::viewable(xcb_window_t w) {
    xcb_get_window_attributes_reply_t* r =
        xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, w), nullptr);
    const bool v = r && r->map_state == XCB_MAP_STATE_VIEWABLE;
    free(r);
    return v;
}

QRect TestDisplay::frameRect(xcb_window_t w) {
    xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr);
    xcb_translate_coordinates_reply_t* t =
        xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, w, root_, 0, 0), nullptr);
    xcb_get_property_reply_t* e = xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, w, atom("_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 0, 4), nullptr);
    QRect r;
    if (g && t) {
        r = QRect(t->dst_x, t->dst_y, g->width, g->height);
        if (e && xcb_get_property_value_length(e) == 16) {
            const auto* x =
                static_cast<const uint32_t*>(xcb_get_property_value(e)); // left, right, top, bottom
            r.adjust(-int(x[0]), -int(x[2]), int(x[1]), int(x[3]));
        }
    }
    free(g);
    free(t);
    free(e);
    return r;
}

bool waitUntil(const std::function<bool()>& cond, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!cond()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    return true;
}

int countMismatches(const QImage& image, const QRect& rect, const std::function<uint32_t(int, int)>& expected,
                    QString* first) {
    int bad = 0;
    for (int y = 0; y < rect.height(); ++y)
        for (int x = 0; x < rect.width(); ++x) {
            const uint32_t got = image.pixel(rect.x() + x, rect.y() + y) & 0xffffff;
            const uint32_t want = expected(x, y) & 0xffffff;
            if (got != want && bad++ == 0 && first)
                *first = QStringLiteral("at (%1, %2) of the image: %3 instead of %4")
                             .arg(rect.x() + x)
                             .arg(rect.y() + y)
                             .arg(got, 6, 16, QChar('0'))
                             .arg(want, 6, 16, QChar('0'));
        }
    return bad;
}

} // namespace x11test
