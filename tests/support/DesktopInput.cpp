#include "DesktopInput.h"

#include "TestSupport.h"

#include "fake-input-client-protocol.h"
#include "wayland/WaylandConnection.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <cstring>

namespace glimra::test {

using wayland::WaylandConnection;

namespace {

// Waits until the seat offers these capabilities to clients, watched on a connection of its own.
bool waitForSeat(uint32_t wanted) {
    const std::unique_ptr<WaylandConnection> c = WaylandConnection::connect({}, kTestTimeout);
    uint32_t capabilities = 0;
    static constexpr wl_seat_listener listener{
        [](void* data, wl_seat*, uint32_t caps) { *static_cast<uint32_t*>(data) = caps; },
        [](void*, wl_seat*, const char*) {}};
    const Owned<wl_seat, wl_seat_destroy> seat(c ? static_cast<wl_seat*>(c->bind(&wl_seat_interface, 1))
                                                 : nullptr);
    if (!seat)
        return false;
    wl_seat_add_listener(seat.get(), &listener, &capabilities);
    return waitUntil([&] { return c->sync() && (capabilities & wanted) == wanted; }, 10000);
}

} // namespace

struct KWinInput::Connection {
    std::unique_ptr<WaylandConnection> connection;
    Owned<org_kde_kwin_fake_input, org_kde_kwin_fake_input_destroy> input;
    void sync() {
        if (input && !connection->sync()) {
            ADD_FAILURE() << "KWin closed the fake input connection";
            input.reset();
        }
    }
};

KWinInput::KWinInput() : c_(std::make_unique<Connection>()) {
    c_->connection = WaylandConnection::connect({}, kTestTimeout);
    uint32_t version = 0;
    if (c_->connection)
        c_->input.reset(static_cast<org_kde_kwin_fake_input*>(
            c_->connection->bind(&org_kde_kwin_fake_input_interface, 4, &version)));
    if (version < 4) {
        ADD_FAILURE() << "KWin offers no org_kde_kwin_fake_input version 4 to this program "
                         "(the test session sets KWIN_WAYLAND_NO_PERMISSION_CHECKS)";
        c_->input.reset();
        return;
    }
    org_kde_kwin_fake_input_authenticate(c_->input.get(), "Glimra tests", "Keys and clicks of the tests");
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
    if (const uint32_t code = usEvdevCode(keysym); code != kNoKey)
        keyCode(code, press);
    else
        ADD_FAILURE() << "no key gives keysym 0x" << std::hex << keysym << " in the us layout";
}

void KWinInput::keyCode(uint32_t evdevCode, bool press) {
    if (!ok())
        return;
    org_kde_kwin_fake_input_keyboard_key(
        c_->input.get(), evdevCode, press ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    c_->sync();
}

void KWinInput::motion(int x, int y) {
    if (!ok())
        return;
    org_kde_kwin_fake_input_pointer_motion_absolute(c_->input.get(), wl_fixed_from_int(x),
                                                    wl_fixed_from_int(y));
    c_->sync();
}

void KWinInput::button(uint8_t number, bool press) {
    const uint32_t code = evdevButton(number);
    if (!ok() || !code)
        return;
    org_kde_kwin_fake_input_button(
        c_->input.get(), code, press ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
    c_->sync();
}

namespace {

const QString kRemoteDesktop = "org.gnome.Mutter.RemoteDesktop";
const QString kScreenCast = QStringLiteral("org.gnome.Mutter.ScreenCast");

// A method of Mutter's on the session bus; its reply, or a failure that names what was asked.
std::optional<QDBusMessage> callMutter(const QString& service, const QString& path, const QString& interface,
                                       const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(message);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return reply;
    ADD_FAILURE() << "Mutter's " << interface.toStdString() << "." << method.toStdString()
                  << " failed: " << reply.errorMessage().toStdString();
    return std::nullopt;
}

} // namespace

GnomeInput::GnomeInput() {
    const std::vector<SessionOutput> outputs = sessionOutputs();
    if (outputs.size() != 1) {
        ADD_FAILURE() << "GNOME's test input moves the pointer over one monitor, the session has "
                      << outputs.size();
        return;
    }
    monitor_ = outputs.front();
    const std::optional<QDBusMessage> created =
        callMutter(kRemoteDesktop, "/org/gnome/Mutter/RemoteDesktop", kRemoteDesktop, "CreateSession");
    if (!created)
        return;
    session_ = created->arguments().value(0).value<QDBusObjectPath>().path();
    // Without a screen cast tied to the session Mutter takes relative motion only, and a pointer pushed
    // into a corner and moved by differences from there lost moves now and then at a fractional scale.
    const std::optional<QDBusMessage> id =
        callMutter(kRemoteDesktop, session_, "org.freedesktop.DBus.Properties", "Get",
                   {kRemoteDesktop + ".Session", "SessionId"});
    const std::optional<QDBusMessage> cast =
        id ? callMutter(kScreenCast, "/org/gnome/Mutter/ScreenCast", kScreenCast, "CreateSession",
                        {QVariantMap{{"remote-desktop-session-id",
                                      id->arguments().value(0).value<QDBusVariant>().variant()}}})
           : std::nullopt;
    const std::optional<QDBusMessage> stream =
        cast ? callMutter(kScreenCast, cast->arguments().value(0).value<QDBusObjectPath>().path(),
                          kScreenCast + ".Session", "RecordMonitor", {monitor_.name, QVariantMap()})
             : std::nullopt;
    if (!stream) {
        call("Stop", {});
        session_.clear();
        return;
    }
    stream_ = stream->arguments().value(0).value<QDBusObjectPath>().path();
    // Starting the session starts its screen cast, which needs PipeWire; a session that fails to start
    // is gone.
    if (!call("Start", {})) {
        ADD_FAILURE()
            << "no input through Mutter's remote desktop: its screen cast needs PipeWire in the session";
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
    return callMutter(kRemoteDesktop, session_, kRemoteDesktop + ".Session", QString::fromLatin1(method),
                      arguments)
        .has_value();
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
    // Mutter takes a place on the stream in the monitor's device pixels: it divides them by the scale in
    // the logical layout mode (fractional scales), and in the physical one (whole scales) the stage is in
    // device pixels already while a client's surface of scale 2 spans half as many points.
    call("NotifyPointerMotionAbsolute",
         {stream_, (x - monitor_.logical.x()) * monitor_.scale, (y - monitor_.logical.y()) * monitor_.scale});
}

void GnomeInput::button(uint8_t number, bool press) {
    if (const uint32_t code = evdevButton(number); ok() && code)
        call("NotifyPointerButton", {int(code), press});
}

} // namespace glimra::test
