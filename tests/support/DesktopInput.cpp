#include "DesktopInput.h"

#include "TestSupport.h"
#include "WaylandKit.h"

#include "fake-input-client-protocol.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <cstring>

namespace glimra::test {

namespace {

bool buttonCode(uint8_t number, uint32_t* code) {
    static constexpr uint32_t codes[] = {BTN_LEFT, BTN_MIDDLE, BTN_RIGHT};
    if (number < 1 || number > 3) {
        ADD_FAILURE() << "no pointer button " << int(number);
        return false;
    }
    *code = codes[number - 1];
    return true;
}

uint32_t usKeyCode(uint32_t keysym) {
    const uint32_t code = usEvdevCode(keysym);
    if (code == kNoKey)
        ADD_FAILURE() << "no key gives keysym 0x" << std::hex << keysym << " in the us layout";
    return code;
}

// Waits until the seat offers these capabilities to clients, watched on a connection of its own.
bool waitForSeat(uint32_t wanted) {
    struct Seat {
        wl_seat* seat = nullptr;
        uint32_t capabilities = 0;
    } seat;
    static constexpr wl_seat_listener seatListener{[](void* data, wl_seat*, uint32_t capabilities) {
                                                       static_cast<Seat*>(data)->capabilities = capabilities;
                                                   },
                                                   [](void*, wl_seat*, const char*) {}};
    static constexpr wl_registry_listener registryListener{
        [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
            auto* s = static_cast<Seat*>(data);
            if (!strcmp(interface, wl_seat_interface.name) && !s->seat) {
                s->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
                wl_seat_add_listener(s->seat, &seatListener, s);
            }
        },
        [](void*, wl_registry*, uint32_t) {}};
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return false;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &seat);
    const bool ok = waitUntil(
        [&] { return wl_display_roundtrip(display) >= 0 && (seat.capabilities & wanted) == wanted; }, 10000);
    if (seat.seat)
        wl_seat_destroy(seat.seat);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return ok;
}

} // namespace

struct KWinInput::Connection {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    org_kde_kwin_fake_input* input = nullptr;

    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version) {
        auto* c = static_cast<Connection*>(data);
        if (!strcmp(interface, org_kde_kwin_fake_input_interface.name) && version >= 4)
            c->input = static_cast<org_kde_kwin_fake_input*>(
                wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4));
    }
    static void globalRemove(void*, wl_registry*, uint32_t) {}
    static constexpr wl_registry_listener listener{global, globalRemove};

    ~Connection() {
        if (input)
            org_kde_kwin_fake_input_destroy(input);
        if (registry)
            wl_registry_destroy(registry);
        if (display)
            wl_display_disconnect(display);
    }
    void sync() {
        if (input && wl_display_roundtrip(display) < 0) {
            ADD_FAILURE() << "KWin closed the fake input connection: "
                          << strerror(wl_display_get_error(display));
            org_kde_kwin_fake_input_destroy(input);
            input = nullptr;
        }
    }
};

KWinInput::KWinInput() : c_(std::make_unique<Connection>()) {
    c_->display = wl_display_connect(nullptr);
    if (!c_->display) {
        ADD_FAILURE() << "no Wayland display to connect to";
        return;
    }
    c_->registry = wl_display_get_registry(c_->display);
    wl_registry_add_listener(c_->registry, &Connection::listener, c_.get());
    wl_display_roundtrip(c_->display);
    if (!c_->input) {
        ADD_FAILURE() << "KWin offers no org_kde_kwin_fake_input version 4 to this program "
                         "(the test session sets KWIN_WAYLAND_NO_PERMISSION_CHECKS)";
        return;
    }
    org_kde_kwin_fake_input_authenticate(c_->input, "Glimra tests", "Keys and clicks of the tests");
    c_->sync();
    // A fake device of KWin's lives as long as its client: the seat may have had no pointer before
    // this one (or lost it with another client), and clients pick a new one up a little later.
    if (!waitForSeat(WL_SEAT_CAPABILITY_POINTER | WL_SEAT_CAPABILITY_KEYBOARD))
        ADD_FAILURE() << "KWin's fake input device never reached the seat";
    pause(200); // for this program's own toolkit to take it up
}

KWinInput::~KWinInput() = default;

bool KWinInput::ok() const {
    return c_->input != nullptr;
}

void KWinInput::key(uint32_t keysym, bool press) {
    if (const uint32_t code = usKeyCode(keysym); code != kNoKey)
        keyCode(code, press);
}

void KWinInput::keyCode(uint32_t evdevCode, bool press) {
    if (!ok())
        return;
    org_kde_kwin_fake_input_keyboard_key(
        c_->input, evdevCode, press ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    c_->sync();
}

void KWinInput::motion(int x, int y) {
    if (!ok())
        return;
    org_kde_kwin_fake_input_pointer_motion_absolute(c_->input, wl_fixed_from_int(x), wl_fixed_from_int(y));
    c_->sync();
}

void KWinInput::button(uint8_t number, bool press) {
    uint32_t code = 0;
    if (!ok() || !buttonCode(number, &code))
        return;
    org_kde_kwin_fake_input_button(
        c_->input, code, press ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
    c_->sync();
}

GnomeInput::GnomeInput() {
    QDBusMessage create = QDBusMessage::createMethodCall(
        QStringLiteral("org.gnome.Mutter.RemoteDesktop"), QStringLiteral("/org/gnome/Mutter/RemoteDesktop"),
        QStringLiteral("org.gnome.Mutter.RemoteDesktop"), QStringLiteral("CreateSession"));
    const QDBusMessage reply = QDBusConnection::sessionBus().call(create);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        ADD_FAILURE() << "Mutter made no remote desktop session: " << reply.errorMessage().toStdString();
        return;
    }
    session_ = reply.arguments().value(0).value<QDBusObjectPath>().path();
    if (!call("Start", {})) {
        session_.clear();
        return;
    }
    // Mutter adds the session's pointer and keyboard to the seat at their first events, and clients
    // learn of them a little later: events sent before a client holds the device are lost to it.
    call("NotifyPointerMotionRelative", {0.0, 0.0});
    call("NotifyKeyboardKeysym", {uint(XK_Shift_L), true});
    call("NotifyKeyboardKeysym", {uint(XK_Shift_L), false});
    if (!waitForSeat(WL_SEAT_CAPABILITY_POINTER | WL_SEAT_CAPABILITY_KEYBOARD))
        ADD_FAILURE() << "the remote desktop session's devices never reached the seat";
    pause(200); // for this program's own toolkit to take them up
}

GnomeInput::~GnomeInput() {
    if (ok())
        call("Stop", {});
}

bool GnomeInput::call(const char* method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.gnome.Mutter.RemoteDesktop"), session_,
        QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session"), QString::fromLatin1(method));
    message.setArguments(arguments);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(message);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    ADD_FAILURE() << "the remote desktop session's " << method
                  << " failed: " << reply.errorMessage().toStdString();
    return false;
}

void GnomeInput::key(uint32_t keysym, bool press) {
    if (ok())
        call("NotifyKeyboardKeysym", {keysym, press});
}

void GnomeInput::keyCode(uint32_t evdevCode, bool press) {
    if (ok())
        call("NotifyKeyboardKeycode", {evdevCode, press});
}

void GnomeInput::motion(int x, int y) {
    if (!ok())
        return;
    // Once in the corner, the pointer is where this object put it: later moves go by the difference. (At a
    // fractional scale Mutter loses a move that follows a push into the corner now and then.)
    if (!at_) {
        call("NotifyPointerMotionRelative", {-100000.0, -100000.0});
        at_ = QPoint();
    }
    call("NotifyPointerMotionRelative", {double(x - at_->x()), double(y - at_->y())});
    at_ = QPoint(x, y);
}

void GnomeInput::button(uint8_t number, bool press) {
    uint32_t code = 0;
    if (ok() && buttonCode(number, &code))
        call("NotifyPointerButton", {int(code), press});
}

} // namespace glimra::test
