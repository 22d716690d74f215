#include "XTestKit.h"

#include <xcb/shape.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <X11/keysym.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace glimra::test {

QImage testPattern(QSize size, int variant) {
    QImage image(size, QImage::Format_RGB32);
    uint32_t state = 2463534242u + uint32_t(variant);
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int noise = int(state & 31);
            const bool line = (x + variant) % 97 == 0 || (y * 3 + x) % 211 == 0;
            row[x] = line ? qRgb(20, 20, 20)
                          : qRgb((x * 255 / size.width() + noise) & 255, (y * 255 / size.height()) & 255,
                                 ((x ^ y) + variant) & 255);
        }
    }
    return image;
}

QImage patternImage(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, patternPixel(x, y));
    return image;
}

namespace {

template <typename T> std::unique_ptr<T, decltype(&std::free)> owned(T* p) {
    return {p, &std::free};
}

int channelDistance(QRgb a, QRgb b) {
    return std::max(
        {std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

::testing::AssertionResult shows(const QImage& image, const QRect& rect,
                                 const std::function<uint32_t(int, int)>& expected,
                                 const QRegion& ignored = {}, int tolerance = 0) {
    int bad = 0;
    QString first;
    for (int y = 0; y < rect.height(); ++y)
        for (int x = 0; x < rect.width(); ++x) {
            const QPoint at(rect.x() + x, rect.y() + y);
            const uint32_t got = image.pixel(at) & 0xffffff;
            const uint32_t want = expected(x, y) & 0xffffff;
            if (channelDistance(got, want) > tolerance && !ignored.contains(at) && bad++ == 0)
                first = QStringLiteral("at (%1, %2): %3 instead of %4")
                            .arg(at.x())
                            .arg(at.y())
                            .arg(got, 6, 16, QChar('0'))
                            .arg(want, 6, 16, QChar('0'));
        }
    if (bad == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << bad << " pixels differ, first " << first.toStdString();
}

} // namespace

::testing::AssertionResult showsPattern(const QImage& image, const QRect& rect, QPoint origin) {
    return shows(image, rect, [&](int x, int y) { return patternPixel(origin.x() + x, origin.y() + y); });
}

::testing::AssertionResult showsColour(const QImage& image, const QRect& rect, uint32_t colour) {
    return shows(image, rect, [&](int, int) { return colour; });
}

::testing::AssertionResult showsNear(const QImage& image, const QImage& expected, const QRegion& ignored,
                                     int tolerance) {
    if (image.size() != expected.size())
        return ::testing::AssertionFailure()
               << "a picture of " << image.width() << "x" << image.height() << " instead of "
               << expected.width() << "x" << expected.height();
    return shows(
        image, image.rect(), [&](int x, int y) { return expected.pixel(x, y); }, ignored, tolerance);
}

double difference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return 255;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum +=
                std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

QImage dimmedByTheOverlay(const QImage& desktop) {
    QImage out = desktop.convertToFormat(QImage::Format_RGB32);
    const auto dim = [](int c) { return int(std::lround(0.33 * 255 * 0.65 + c * 0.35)); };
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            row[x] = qRgb(dim(qRed(row[x])), dim(qGreen(row[x])), dim(qBlue(row[x])));
    }
    return out;
}

XClient::XClient(const QString& name)
    : c_(xcb_connect(name.isEmpty() ? nullptr : name.toLocal8Bit().constData(), nullptr)) {
    if (xcb_connection_has_error(c_))
        return;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    root_ = screen->root;
    depth_ = screen->root_depth;
}

XClient::~XClient() {
    if (symbols_)
        xcb_key_symbols_free(symbols_);
    xcb_disconnect(c_);
}

void XClient::sync() {
    owned(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
}

// ---- Windows ----

xcb_pixmap_t XClient::pixmapOf(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    const xcb_pixmap_t pixmap = xcb_generate_id(c_);
    xcb_create_pixmap(c_, depth_, pixmap, root_, uint16_t(image.width()), uint16_t(image.height()));
    const xcb_gcontext_t gc = xcb_generate_id(c_);
    xcb_create_gc(c_, gc, pixmap, 0, nullptr);
    // Row bands keep each request well inside the core request size.
    const int band = std::max(1, 60000 / std::max(1, image.width()));
    for (int y = 0; y < image.height(); y += band) {
        const int rows = std::min(band, image.height() - y);
        xcb_put_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, uint16_t(image.width()), uint16_t(rows), 0,
                      int16_t(y), 0, depth_, uint32_t(rows * image.bytesPerLine()), image.constScanLine(y));
    }
    xcb_free_gc(c_, gc);
    return pixmap;
}

xcb_window_t XClient::create(const WindowSpec& request) {
    const xcb_window_t w = xcb_generate_id(c_);
    const QRect& r = request.rect;
    if (request.inputOnly) {
        const uint32_t values[] = {request.overrideRedirect ? 1u : 0u};
        xcb_create_window(c_, 0, w, root_, int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()),
                          uint16_t(r.height()), 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                          XCB_CW_OVERRIDE_REDIRECT, values);
        return w;
    }
    const QImage image = request.pattern ? patternImage(r.size()) : request.image;
    const xcb_pixmap_t pixmap = image.isNull() ? XCB_NONE : pixmapOf(image);
    const uint32_t values[] = {pixmap ? pixmap : request.colour, request.overrideRedirect ? 1u : 0u};
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    xcb_create_window(c_, depth_, w, root_, int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()),
                      uint16_t(r.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      (pixmap ? XCB_CW_BACK_PIXMAP : XCB_CW_BACK_PIXEL) | XCB_CW_OVERRIDE_REDIRECT, values);
    if (pixmap)
        xcb_free_pixmap(c_, pixmap); // the window keeps its background
    // Where the test asked for it, also under a window manager.
    // USPosition | USSize | PPosition | PSize, with the obsolete fields filled for window managers that
    // still read them.
    const uint32_t hints[18] = {1 | 2 | 4 | 8, uint32_t(r.x()), uint32_t(r.y()), uint32_t(r.width()),
                                uint32_t(r.height())};
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32,
                        18, hints);
    return w;
}

void XClient::setRootPicture(const QImage& image) {
    const xcb_pixmap_t picture = pixmapOf(image);
    xcb_change_window_attributes(c_, root_, XCB_CW_BACK_PIXMAP, &picture);
    xcb_free_pixmap(c_, picture); // the root keeps its background
    xcb_clear_area(c_, 0, root_, 0, 0, 0, 0);
    const xcb_pixmap_t id = xcb_generate_id(c_);
    xcb_create_pixmap(c_, 1, id, root_, 1, 1);
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, root_, atom("_XSETROOT_ID"), XCB_ATOM_PIXMAP, 32, 1, &id);
    sync();
}

xcb_window_t XClient::cover(const QImage& image) {
    const xcb_window_t w = map(create({QRect(QPoint(), image.size()), 0, false, true, false, image}));
    raise(w);
    return w;
}

xcb_window_t XClient::map(xcb_window_t w) {
    xcb_map_window(c_, w);
    sync();
    return w;
}

void XClient::destroy(xcb_window_t w) {
    xcb_destroy_window(c_, w);
    sync();
}

void XClient::raise(xcb_window_t w) {
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c_, w, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    sync();
}

void XClient::focus(xcb_window_t w) {
    xcb_set_input_focus(c_, XCB_INPUT_FOCUS_POINTER_ROOT, w, XCB_CURRENT_TIME);
    sync();
}

xcb_atom_t XClient::atom(const char* name) {
    auto r = owned(xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, uint16_t(strlen(name)), name), nullptr));
    return r ? r->atom : XCB_NONE;
}

void XClient::setCardinals(xcb_window_t w, const char* property, std::initializer_list<uint32_t> values) {
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom(property), XCB_ATOM_CARDINAL, 32,
                        uint32_t(values.size()), std::data(values));
}

void XClient::setAtoms(xcb_window_t w, const char* property, std::initializer_list<const char*> values) {
    std::vector<xcb_atom_t> atoms;
    for (const char* v : values)
        atoms.push_back(atom(v));
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom(property), XCB_ATOM_ATOM, 32,
                        uint32_t(atoms.size()), atoms.data());
}

void XClient::setString(xcb_window_t w, const char* property, const char* type, const std::string& value) {
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, atom(property), atom(type), 8, uint32_t(value.size()),
                        value.data());
}

QByteArray XClient::property(xcb_window_t w, const char* name) {
    auto r = owned(xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, w, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr));
    return r ? QByteArray(static_cast<const char*>(xcb_get_property_value(r.get())),
                          xcb_get_property_value_length(r.get()))
             : QByteArray();
}

uint32_t XClient::property32(xcb_window_t w, const char* name) {
    const QByteArray value = property(w, name);
    return value.size() >= 4 ? *reinterpret_cast<const uint32_t*>(value.constData()) : 0;
}

void XClient::sendToWindowManager(xcb_window_t w, const char* message, std::initializer_list<uint32_t> data) {
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

xcb_window_t XClient::selectionOwner(const char* selection) {
    auto r = owned(xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, atom(selection)), nullptr));
    return r ? r->owner : XCB_NONE;
}

std::vector<xcb_window_t> XClient::children(xcb_window_t w) {
    std::vector<xcb_window_t> result;
    if (auto r = owned(xcb_query_tree_reply(c_, xcb_query_tree(c_, w), nullptr))) {
        const xcb_window_t* kids = xcb_query_tree_children(r.get());
        result.assign(kids, kids + xcb_query_tree_children_length(r.get()));
    }
    return result;
}

bool XClient::viewable(xcb_window_t w) {
    auto r = owned(xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, w), nullptr));
    return r && r->map_state == XCB_MAP_STATE_VIEWABLE;
}

xcb_window_t XClient::inputFocus() {
    auto r = owned(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    return r ? r->focus : XCB_NONE;
}

QRect XClient::rootGeometry(xcb_window_t w) {
    auto g = owned(xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr));
    auto t =
        owned(xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, w, root_, 0, 0), nullptr));
    return g && t ? QRect(t->dst_x, t->dst_y, g->width, g->height) : QRect();
}

QRect XClient::frameRect(xcb_window_t w) {
    QRect r = rootGeometry(w);
    const QByteArray extents = r.isNull() ? QByteArray() : property(w, "_NET_FRAME_EXTENTS");
    if (extents.size() == 16) {
        const auto* e = reinterpret_cast<const uint32_t*>(extents.constData()); // left, right, top, bottom
        r.adjust(-int(e[0]), -int(e[2]), int(e[1]), int(e[3]));
    }
    return r;
}

QRect XClient::shownPart(xcb_window_t w) {
    auto r = owned(xcb_shape_query_extents_reply(c_, xcb_shape_query_extents(c_, w), nullptr));
    return r ? QRect(r->bounding_shape_extents_x, r->bounding_shape_extents_y,
                     r->bounding_shape_extents_width, r->bounding_shape_extents_height)
             : QRect();
}

QImage XClient::pixels(const QRect& rect, xcb_window_t w) {
    auto r = owned(xcb_get_image_reply(c_,
                                       xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, w ? w : root_,
                                                     int16_t(rect.x()), int16_t(rect.y()),
                                                     uint16_t(rect.width()), uint16_t(rect.height()), ~0u),
                                       nullptr));
    if (!r || xcb_get_image_data_length(r.get()) != rect.width() * rect.height() * 4)
        return QImage();
    return QImage(xcb_get_image_data(r.get()), rect.width(), rect.height(), rect.width() * 4,
                  QImage::Format_RGB32)
        .copy();
}

void XClient::watchMaps() {
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &mask);
    sync();
}

const std::vector<xcb_window_t>& XClient::mapped() {
    bells();
    return mapped_;
}

bool XClient::waitForButtonPress(int timeoutMs) {
    waitUntil([&] { return bells(), buttonPressed_; }, timeoutMs);
    return std::exchange(buttonPressed_, false);
}

// ---- Keys and pointer ----

xcb_keycode_t XClient::keycode(xcb_keysym_t keysym) {
    if (!symbols_)
        symbols_ = xcb_key_symbols_alloc(c_);
    const auto codes = owned(xcb_key_symbols_get_keycode(symbols_, keysym)); // ends with XCB_NO_SYMBOL
    return codes ? codes.get()[0] : 0;
}

void XClient::fake(uint8_t type, uint8_t detail, int x, int y) {
    xcb_test_fake_input(c_, type, detail, XCB_CURRENT_TIME, type == XCB_MOTION_NOTIFY ? root_ : XCB_NONE,
                        int16_t(x), int16_t(y), 0);
}

void XClient::pressCode(xcb_keycode_t code, bool press) {
    fake(press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, code);
    sync();
}

uint16_t XClient::numLockMask() {
    auto map = owned(xcb_get_modifier_mapping_reply(c_, xcb_get_modifier_mapping(c_), nullptr));
    const xcb_keycode_t numLock = keycode(XK_Num_Lock);
    if (!map || !numLock)
        return 0;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(map.get());
    for (int row = 0; row < 8; ++row)
        for (int i = 0; i < map->keycodes_per_modifier; ++i)
            if (codes[row * map->keycodes_per_modifier + i] == numLock)
                return uint16_t(1u << row);
    return 0;
}

void XClient::motion(int x, int y) {
    pointer(XCB_MOTION_NOTIFY, 0, x, y);
}

void XClient::button(uint8_t number, bool press) {
    pointer(press ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, number);
}

void XClient::pointer(uint8_t type, uint8_t button, int x, int y) {
    fake(type, button, x, y);
    sync();
}

bool XClient::grabPointer() {
    auto reply = owned(xcb_grab_pointer_reply(
        c_,
        xcb_grab_pointer(c_, 0, root_, XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_BUTTON_PRESS,
                         XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
        nullptr));
    return reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
}

bool XClient::grab(xcb_keycode_t code, uint16_t modifiers) {
    return !owned(xcb_request_check(
        c_, xcb_grab_key_checked(c_, 0, root_, modifiers, code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
}

bool XClient::canGrab(xcb_keycode_t code, uint16_t modifiers) {
    if (!grab(code, modifiers))
        return false;
    xcb_ungrab_key(c_, code, root_, modifiers);
    sync();
    return true;
}

// ---- The bell ----

bool XClient::watchBells() {
    const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(c_, &xcb_xkb_id);
    if (!xkb || !xkb->present)
        return false;
    xkbEvent_ = xkb->first_event;
    owned(xcb_xkb_use_extension_reply(
        c_, xcb_xkb_use_extension(c_, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION), nullptr));
    xcb_xkb_select_events(c_, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_EVENT_TYPE_BELL_NOTIFY, 0,
                          XCB_XKB_EVENT_TYPE_BELL_NOTIFY, 0, 0, nullptr);
    sync();
    return true;
}

int XClient::bells() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
        const int type = event->response_type & 0x7f;
        if (type == xkbEvent_ &&
            reinterpret_cast<xcb_xkb_bell_notify_event_t*>(event)->xkbType == XCB_XKB_BELL_NOTIFY)
            ++bells_;
        else if (type == XCB_MAP_NOTIFY)
            mapped_.push_back(reinterpret_cast<xcb_map_notify_event_t*>(event)->window);
        else if (type == XCB_BUTTON_PRESS)
            buttonPressed_ = true;
        std::free(event);
    }
    return bells_;
}

int XClient::bells(int atLeast, std::chrono::milliseconds timeout, std::chrono::milliseconds settle) {
    // The event loop runs meanwhile: XPC replies of the test itself are delivered by it.
    waitUntil([&] { return bells() >= atLeast; }, int(timeout.count()));
    pause(int(settle.count()));
    return bells();
}

XkbLayout::XkbLayout(const KeyboardLayoutName& name) {
    QStringList arguments{QStringLiteral("-layout"), QLatin1String(name.layout)};
    if (*name.variant)
        arguments << QStringLiteral("-variant") << QLatin1String(name.variant);
    ok_ = QProcess::execute(QStringLiteral("setxkbmap"), arguments) == 0;
}

XkbLayout::~XkbLayout() {
    QProcess::execute(QStringLiteral("setxkbmap"), {"-layout", "us"});
}

} // namespace glimra::test
