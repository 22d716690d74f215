#include "WaylandKit.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wayland/OutputCopier.h"
#include "wayland/WaylandConnection.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

namespace glimra::test {

static uint32_t milliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint32_t(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

static xkb_keycode_t keycodeFor(xkb_keymap* keymap, xkb_keysym_t keysym) {
    const xkb_keycode_t first = xkb_keymap_min_keycode(keymap), last = xkb_keymap_max_keycode(keymap);
    for (xkb_level_index_t level = 0; level < 4; ++level)
        for (xkb_keycode_t key = first; key <= last; ++key) {
            const xkb_keysym_t* syms = nullptr;
            const int n = xkb_keymap_key_get_syms_by_level(keymap, key, 0, level, &syms);
            if (std::find(syms, syms + std::max(n, 0), keysym) != syms + std::max(n, 0))
                return key;
        }
    return XKB_KEYCODE_INVALID;
}

// A keymap of a layout, null when xkbcommon has none; it keeps its context alive by itself.
static Owned<xkb_keymap, xkb_keymap_unref> makeKeymap(const char* layout, const char* variant) {
    const Owned<xkb_context, xkb_context_unref> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    const xkb_rule_names names{"evdev", "pc105", layout, variant, ""};
    return Owned<xkb_keymap, xkb_keymap_unref>(
        context ? xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr);
}

uint32_t usEvdevCode(uint32_t keysym) {
    static const auto keymap = makeKeymap("us", "");
    const xkb_keycode_t code = keymap ? keycodeFor(keymap.get(), keysym) : XKB_KEYCODE_INVALID;
    return code == XKB_KEYCODE_INVALID ? kNoKey : code - 8;
}

struct WaylandInput::Connection {
    // Declared in the order of making, so that each object goes before the ones it was made from.
    std::unique_ptr<wayland::WaylandConnection> connection;
    Owned<wl_seat, wl_seat_destroy> seat;
    Owned<zwp_virtual_keyboard_manager_v1, zwp_virtual_keyboard_manager_v1_destroy> keyboards;
    Owned<zwlr_virtual_pointer_manager_v1, zwlr_virtual_pointer_manager_v1_destroy> pointers;
    Owned<zwp_virtual_keyboard_v1, zwp_virtual_keyboard_v1_destroy> keyboard;
    Owned<zwlr_virtual_pointer_v1, zwlr_virtual_pointer_v1_destroy> pointer;
    Owned<xkb_keymap, xkb_keymap_unref> keymap;
    Owned<xkb_state, xkb_state_unref> state;
    xkb_mod_mask_t sentModifiers[3] = {};
    bool failed = false;

    template <typename T> T* bind(const wl_interface& interface) {
        return static_cast<T*>(connection->bind(&interface, 1));
    }
    // Waits until the compositor has carried out every request so far; a protocol error fails the test.
    void sync() {
        if (!failed && !connection->sync()) {
            failed = true;
            ADD_FAILURE() << "the Wayland connection of the virtual input devices broke";
        }
    }

    bool uploadKeymap(const KeyboardLayoutName& layout) {
        keymap = makeKeymap(layout.layout, layout.variant);
        if (!keymap)
            return false;
        state.reset(xkb_state_new(keymap.get()));
        const std::unique_ptr<char, decltype(&free)> text(
            xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1), &free);
        if (!text)
            return false;
        const size_t size = strlen(text.get()) + 1;
        const int fd = memfd_create("glimra-test-keymap", MFD_CLOEXEC);
        if (fd < 0 || write(fd, text.get(), size) != ssize_t(size)) {
            if (fd >= 0)
                close(fd);
            return false;
        }
        keyboard.reset(zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboards.get(), seat.get()));
        zwp_virtual_keyboard_v1_keymap(keyboard.get(), WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, uint32_t(size));
        close(fd); // the request carries a copy
        return true;
    }

    xkb_keycode_t code(xkb_keysym_t keysym) const { return keycodeFor(keymap.get(), keysym); }

    QRect layout() const {
        QRect box;
        for (const wayland::OutputInfo& output : connection->outputs())
            box |= output.logical;
        return box;
    }
};

WaylandInput::WaylandInput(const QString& display, const KeyboardLayoutName& layout)
    : c_(std::make_unique<Connection>()) {
    c_->connection = wayland::WaylandConnection::connect(display, kTestTimeout);
    if (c_->connection) {
        c_->seat.reset(c_->bind<wl_seat>(wl_seat_interface));
        c_->keyboards.reset(
            c_->bind<zwp_virtual_keyboard_manager_v1>(zwp_virtual_keyboard_manager_v1_interface));
        c_->pointers.reset(
            c_->bind<zwlr_virtual_pointer_manager_v1>(zwlr_virtual_pointer_manager_v1_interface));
    }
    c_->failed = !c_->seat || !c_->keyboards || !c_->pointers || !c_->uploadKeymap(layout);
    if (c_->failed)
        ADD_FAILURE() << "no seat, virtual keyboard and pointer, or " << layout.name << " keymap";
    else
        c_->pointer.reset(
            zwlr_virtual_pointer_manager_v1_create_virtual_pointer(c_->pointers.get(), c_->seat.get()));
    c_->sync();
}

WaylandInput::~WaylandInput() = default;

bool WaylandInput::ok() const {
    return !c_->failed;
}

void WaylandInput::key(uint32_t keysym, bool press) {
    if (!ok())
        return;
    const xkb_keycode_t code = c_->code(keysym);
    if (code == XKB_KEYCODE_INVALID)
        return ADD_FAILURE() << "no key gives keysym 0x" << std::hex << keysym;
    keyCode(code - 8, press);
}

void WaylandInput::keyCode(uint32_t evdevCode, bool press) {
    if (!ok())
        return;
    const xkb_keycode_t code = evdevCode + 8;
    zwp_virtual_keyboard_v1_key(c_->keyboard.get(), milliseconds(), evdevCode,
                                press ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    // The compositor takes the modifiers from the keyboard's client, not from its keys.
    xkb_state_update_key(c_->state.get(), code, press ? XKB_KEY_DOWN : XKB_KEY_UP);
    const xkb_mod_mask_t now[3] = {xkb_state_serialize_mods(c_->state.get(), XKB_STATE_MODS_DEPRESSED),
                                   xkb_state_serialize_mods(c_->state.get(), XKB_STATE_MODS_LATCHED),
                                   xkb_state_serialize_mods(c_->state.get(), XKB_STATE_MODS_LOCKED)};
    if (memcmp(now, c_->sentModifiers, sizeof now) != 0) {
        zwp_virtual_keyboard_v1_modifiers(
            c_->keyboard.get(), now[0], now[1], now[2],
            xkb_state_serialize_layout(c_->state.get(), XKB_STATE_LAYOUT_EFFECTIVE));
        memcpy(c_->sentModifiers, now, sizeof now);
    }
    c_->sync();
}

void WaylandInput::motion(int x, int y) {
    c_->sync(); // the outputs as they are now, should a layout have changed meanwhile
    if (!ok())
        return;
    // Absolute motion spans the whole layout: 0 is its left (top) edge, the extent its right (bottom) one.
    const QRect layout = c_->layout();
    if (!layout.contains(x, y))
        return ADD_FAILURE() << "(" << x << ", " << y << ") lies outside the outputs";
    zwlr_virtual_pointer_v1_motion_absolute(c_->pointer.get(), milliseconds(), uint32_t(x - layout.x()),
                                            uint32_t(y - layout.y()), uint32_t(layout.width()),
                                            uint32_t(layout.height()));
    zwlr_virtual_pointer_v1_frame(c_->pointer.get());
    c_->sync();
}

void WaylandInput::button(uint8_t number, bool press) {
    const uint32_t code = evdevButton(number);
    if (!ok() || !code)
        return;
    zwlr_virtual_pointer_v1_button(c_->pointer.get(), milliseconds(), code,
                                   press ? WL_POINTER_BUTTON_STATE_PRESSED
                                         : WL_POINTER_BUTTON_STATE_RELEASED);
    zwlr_virtual_pointer_v1_frame(c_->pointer.get());
    c_->sync();
}

uint32_t evdevButton(uint8_t number) {
    static constexpr uint32_t codes[] = {BTN_LEFT, BTN_MIDDLE, BTN_RIGHT};
    if (number >= 1 && number <= 3)
        return codes[number - 1];
    ADD_FAILURE() << "no pointer button " << int(number);
    return 0;
}

QImage outputImage(const QString& name, const QProcessEnvironment& env) {
    QProcess grim;
    grim.setProcessEnvironment(env);
    grim.start(QStringLiteral("grim"), {"-o", name, "-t", "ppm", "-"});
    if (!grim.waitForFinished(20000) || grim.exitCode() != 0) {
        ADD_FAILURE() << "grim: " << grim.readAllStandardError().toStdString();
        return QImage();
    }
    return QImage::fromData(grim.readAllStandardOutput(), "PPM").convertToFormat(QImage::Format_RGB32);
}

QImage wallpaper(const QString& name) {
    return QImage(qEnvironmentVariable("GLIMRA_WAYLAND_WALLPAPERS") + u'/' + name + QStringLiteral(".png"))
        .convertToFormat(QImage::Format_RGB32);
}

QImage shownPicture(const QString& name) {
    return sessionOutput(name).scale == std::floor(sessionOutput(name).scale) ? wallpaper(name)
                                                                              : outputPixels(name);
}

QImage outputPixels(const QString& name) {
    QImage shown = outputImage(name);
    if (shown.size() == sessionOutput(name).pixels())
        return shown;
    // grim lays an output out at its points times its scale, rounded down, and resamples it into that:
    // at a scale that divides the mode unevenly (1.75) its picture is a row short and blurred by a unit.
    // The output's own buffer, as the screen-copy road (checked pixel for pixel against the wallpapers at
    // whole scales) copies it, is what it shows.
    std::shared_ptr<glimra::wayland::WaylandConnection> connection =
        glimra::wayland::WaylandConnection::connect({}, kTestTimeout);
    std::unique_ptr<glimra::wayland::OutputCopier> copier =
        connection ? glimra::wayland::makeScreencopyCopier(connection) : nullptr;
    if (copier)
        copier->copyOutputs({name}, [&](std::vector<glimra::wayland::OutputImage> images) {
            if (!images.empty())
                shown = images.front().image;
        });
    return shown;
}

QSize SessionOutput::pixels() const {
    return transform.endsWith("90") || transform.endsWith("270") ? mode.transposed() : mode;
}

QRect SessionOutput::pixelsOf(const QRect& points) const {
    const QRectF r(points.translated(-logical.topLeft()));
    return QRectF(r.topLeft() * scale, r.size() * scale).toRect();
}

std::vector<SessionOutput> sessionOutputs() {
    static const QRegularExpression word(
        QStringLiteral(R"(^([^:]+):(\d+)x(\d+)@([\d.]+),([a-z0-9-]+)([+-]\d+),([+-]?\d+):(\d+)x(\d+)$)"));
    std::vector<SessionOutput> outputs;
    for (const QString& w : qEnvironmentVariable("GLIMRA_WAYLAND_OUTPUTS").split(u' ', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = word.match(w);
        if (!m.hasMatch()) {
            ADD_FAILURE() << "GLIMRA_WAYLAND_OUTPUTS: cannot read " << w.toStdString();
            continue;
        }
        const auto n = [&](int i) { return m.captured(i).toInt(); };
        outputs.push_back({m.captured(1), QSize(n(2), n(3)), m.captured(4).toDouble(), m.captured(5),
                           QRect(n(6), n(7), n(8), n(9))});
    }
    return outputs;
}

SessionOutput sessionOutput(const QString& name) {
    for (const SessionOutput& o : sessionOutputs())
        if (o.name == name)
            return o;
    ADD_FAILURE() << "the session has no output " << name.toStdString();
    return {name, {}, 1, {}, {}};
}

SessionLayout::SessionLayout(const QString& entries) : sessions_(qgetenv("GLIMRA_WAYLAND_OUTPUTS")) {
    ok_ = apply(entries);
}

SessionLayout::~SessionLayout() {
    QStringList own;
    for (const QString& w : QString::fromUtf8(sessions_).split(u' ', Qt::SkipEmptyParts))
        own << w.section(u':', 1, 1);
    EXPECT_TRUE(apply(own.join(u' '))) << "the session's own layout did not come back";
}

bool SessionLayout::fits(const QString& entries) {
    return entries.split(u' ', Qt::SkipEmptyParts).size() == qsizetype(sessionOutputs().size());
}

bool SessionLayout::apply(const QString& entries) {
    QProcess script;
    script.start(QStringLiteral("bash"), {"-c",
                                          ". " GLIMRA_SOURCE_DIR "/scripts/lib/wayland-session.sh && "
                                          "glimra_wayland_apply_outputs \"$0\"",
                                          entries});
    const bool done = script.waitForFinished(60000) && script.exitCode() == 0;
    if (!done) {
        ADD_FAILURE() << script.readAllStandardError().toStdString();
        return false;
    }
    qputenv("GLIMRA_WAYLAND_OUTPUTS", script.readAllStandardOutput().trimmed());
    // Until Qt has taken up every output's place and size.
    const auto taken = [] {
        const std::vector<SessionOutput> outputs = sessionOutputs();
        const QList<QScreen*> screens = QGuiApplication::screens();
        return outputs.size() == size_t(screens.size()) &&
               std::all_of(outputs.begin(), outputs.end(), [&](const SessionOutput& o) {
                   return std::any_of(screens.begin(), screens.end(), [&](const QScreen* s) {
                       return s->name() == o.name && s->geometry() == o.logical;
                   });
               });
    };
    return waitUntil(taken, 10000);
}

::testing::AssertionResult swayCommand(wayland::SwayIpc& ipc, const QString& command) {
    const std::optional<QJsonDocument> reply = ipc.request(wayland::SwayIpc::RunCommand, command.toUtf8());
    if (reply && reply->array().at(0).toObject().value(QLatin1String("success")).toBool())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << command.toStdString() << ": " << (reply ? reply->toJson().toStdString() : "no answer");
}

std::optional<wayland::SwayWindow> ownSwayWindow(wayland::SwayIpc& ipc, const QString& title,
                                                 std::vector<wayland::SwayWindow>* all) {
    const std::vector<wayland::SwayWindow> windows =
        ipc.windows().value_or(std::vector<wayland::SwayWindow>{});
    if (all)
        *all = windows;
    for (const wayland::SwayWindow& w : windows)
        if (w.pid == getpid() && w.name == title)
            return w;
    return std::nullopt;
}

PrivateSway::PrivateSway(QString config) : config_(std::move(config)) {
    QFile file(dir_.filePath(QStringLiteral("sway.conf")));
    if (file.open(QIODevice::WriteOnly))
        file.write("xwayland disable\n" + config_.toUtf8());
}

bool PrivateSway::start() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"WAYLAND_DISPLAY", "WAYLAND_SOCKET", "DISPLAY"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("SWAYSOCK"), socketPath());
    env.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    env.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    env.insert(QStringLiteral("WLR_HEADLESS_OUTPUTS"), QStringLiteral("1"));
    env.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    sway_ = std::make_unique<Program>("sway", QStringList{"-V", "-c", dir_.filePath("sway.conf")}, env);
    const QRegularExpression running(QStringLiteral("Running compositor on wayland display '([^']+)'"));
    QRegularExpressionMatch match;
    const bool up = waitUntil(
        [&] {
            match = running.match(sway_->output());
            return match.hasMatch() && QFileInfo::exists(socketPath());
        },
        10000);
    if (!up) {
        fprintf(stderr, "sway did not come up:\n%s\n", qPrintable(sway_->output()));
        return false;
    }
    display_ = match.captured(1);
    return true;
}

void PrivateSway::stop() {
    if (!sway_ || !sway_->isRunning())
        return;
    sway_->terminate();
    sway_->waitForExit();
}

QProcessEnvironment PrivateSway::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), display_);
    env.insert(QStringLiteral("SWAYSOCK"), socketPath());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    return env;
}

} // namespace glimra::test
