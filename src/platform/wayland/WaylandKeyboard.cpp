#include "wayland/WaylandKeyboard.h"

#include "wayland/WaylandConnection.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <sys/mman.h>
#include <unistd.h>

namespace glimra::wayland {

struct WaylandKeyboard::Private {
    // Declared in the order of making, so that each object goes before the ones it was made from.
    std::shared_ptr<WaylandConnection> connection;
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context{nullptr, &xkb_context_unref};
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap{nullptr, &xkb_keymap_unref};
    wl_seat* seat = nullptr;
    uint32_t seatVersion = 0;
    wl_keyboard* keyboard = nullptr;
    std::function<void()> changed;

    ~Private() {
        if (keyboard)
            seatVersion >= WL_KEYBOARD_RELEASE_SINCE_VERSION ? wl_keyboard_release(keyboard)
                                                             : wl_keyboard_destroy(keyboard);
        if (seat)
            seatVersion >= WL_SEAT_RELEASE_SINCE_VERSION ? wl_seat_release(seat) : wl_seat_destroy(seat);
        // The connection may stay for others: the compositor hears of it now.
        if (connection && !connection->broken())
            wl_display_flush(connection->display());
    }

    static void capabilities(void* data, wl_seat* seat, uint32_t caps) {
        auto* d = static_cast<Private*>(data);
        if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && !d->keyboard) {
            d->keyboard = wl_seat_get_keyboard(seat);
            wl_keyboard_add_listener(d->keyboard, &kKeyboardListener, d);
        }
    }
    static void seatName(void*, wl_seat*, const char*) {}
    static constexpr wl_seat_listener kSeatListener{capabilities, seatName};

    static void keymapEvent(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
        auto* d = static_cast<Private*>(data);
        if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || size == 0) {
            close(fd);
            return;
        }
        void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        close(fd);
        if (text == MAP_FAILED) {
            logLine(QStringLiteral("the compositor's keymap cannot be read"));
            return;
        }
        // The text ends in a NUL byte the size counts.
        xkb_keymap* keymap = xkb_keymap_new_from_buffer(
            d->context.get(), static_cast<const char*>(text), strnlen(static_cast<const char*>(text), size),
            XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
        munmap(text, size);
        if (!keymap) {
            logLine(QStringLiteral("the compositor's keymap does not compile"));
            return;
        }
        d->keymap.reset(keymap);
        if (d->changed)
            d->changed();
    }
    static void enter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
    static void leave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
    static void key(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
    static void modifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
    static void repeatInfo(void*, wl_keyboard*, int32_t, int32_t) {}
    static constexpr wl_keyboard_listener kKeyboardListener{keymapEvent, enter,     leave,
                                                            key,         modifiers, repeatInfo};
};

std::unique_ptr<WaylandKeyboard> WaylandKeyboard::connect(std::shared_ptr<WaylandConnection> connection) {
    auto d = std::make_unique<Private>();
    d->connection = std::move(connection);
    d->context.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (!d->connection || !d->context)
        return nullptr;
    d->seat = static_cast<wl_seat*>(d->connection->bind(&wl_seat_interface, 5, &d->seatVersion));
    if (!d->seat) {
        logLine(QStringLiteral("the compositor offers no seat: no keyboard layout to name keys by"));
        return nullptr;
    }
    wl_seat_add_listener(d->seat, &Private::kSeatListener, d.get());
    // The seat's capabilities, then the keyboard's keymap.
    d->connection->sync();
    d->connection->sync();
    return std::unique_ptr<WaylandKeyboard>(new WaylandKeyboard(std::move(d)));
}

WaylandKeyboard::WaylandKeyboard(std::unique_ptr<Private> p) : d(std::move(p)) {}
WaylandKeyboard::~WaylandKeyboard() = default;

xkb_keymap* WaylandKeyboard::keymap() const {
    return d->keymap.get();
}

bool WaylandKeyboard::broken() const {
    return d->connection->broken();
}

void WaylandKeyboard::setKeymapChanged(std::function<void()> callback) {
    d->changed = std::move(callback);
}

} // namespace glimra::wayland
