// The helper's global hot keys, typed through XTest on the session's X server while the real helper
// runs: what each shortcut starts, what the main application hears, and the bell.

#include "HelperLink.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <csignal>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace xpc;
using namespace glimra::test;

namespace {

const QString kMainName = QStringLiteral("app.glimra.Glimra");
constexpr uint16_t kCtrlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;

template <typename T> std::unique_ptr<T, decltype(&std::free)> owned(T* p) {
    return {p, &std::free};
}

// Another X client: types through XTest, grabs keys, and hears the bell.
class XClient {
public:
    XClient() : m_connection(xcb_connect(nullptr, nullptr)) {
        if (!ok())
            return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        m_symbols = xcb_key_symbols_alloc(m_connection);
    }
    ~XClient() {
        if (m_symbols)
            xcb_key_symbols_free(m_symbols);
        xcb_disconnect(m_connection);
    }
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    bool ok() const { return !xcb_connection_has_error(m_connection); }

    std::vector<xcb_keycode_t> keycodes(xcb_keysym_t keysym) const {
        std::vector<xcb_keycode_t> result;
        if (auto codes = owned(xcb_key_symbols_get_keycode(m_symbols, keysym)))
            for (const xcb_keycode_t* code = codes.get(); *code != XCB_NO_SYMBOL; ++code)
                result.push_back(*code);
        return result;
    }
    xcb_keycode_t keycode(xcb_keysym_t keysym) const {
        const auto codes = keycodes(keysym);
        return codes.empty() ? 0 : codes.front();
    }

    void down(xcb_keysym_t keysym) { fake(XCB_KEY_PRESS, keysym); }
    void up(xcb_keysym_t keysym) { fake(XCB_KEY_RELEASE, keysym); }
    void tap(xcb_keysym_t keysym) {
        down(keysym);
        up(keysym);
    }
    void type(std::initializer_list<xcb_keysym_t> modifiers, xcb_keysym_t key) {
        for (xcb_keysym_t modifier : modifiers)
            down(modifier);
        tap(key);
        for (auto m = std::rbegin(modifiers); m != std::rend(modifiers); ++m)
            up(*m);
    }

    uint16_t modifierState() const {
        auto reply =
            owned(xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, m_root), nullptr));
        return reply ? reply->mask : 0;
    }
    // The modifier bit Num_Lock sits on in the server's modifier map.
    uint16_t numLockMask() const {
        auto map = owned(
            xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
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

    bool grab(xcb_keycode_t keycode, uint16_t modifiers) {
        return !owned(
            xcb_request_check(m_connection, xcb_grab_key_checked(m_connection, 0, m_root, modifiers, keycode,
                                                                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
    }

    // From now on, counts the bells rung on the core keyboard.
    bool watchBell() {
        const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(m_connection, &xcb_xkb_id);
        if (!xkb || !xkb->present)
            return false;
        m_xkbEvent = xkb->first_event;
        std::free(xcb_xkb_use_extension_reply(
            m_connection, xcb_xkb_use_extension(m_connection, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION),
            nullptr));
        xcb_xkb_select_events(m_connection, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_EVENT_TYPE_BELL_NOTIFY, 0,
                              XCB_XKB_EVENT_TYPE_BELL_NOTIFY, 0, 0, nullptr);
        sync();
        return true;
    }
    int bells() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
            if ((event->response_type & 0x7f) == m_xkbEvent &&
                reinterpret_cast<xcb_xkb_bell_notify_event_t*>(event)->xkbType == XCB_XKB_BELL_NOTIFY)
                ++m_bells;
            std::free(event);
        }
        return m_bells;
    }

    void sync() const {
        owned(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }

private:
    void fake(uint8_t type, xcb_keysym_t keysym) {
        const xcb_keycode_t code = keycode(keysym);
        ASSERT_NE(code, 0) << "no key for keysym " << keysym;
        xcb_test_fake_input(m_connection, type, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        sync();
    }

    xcb_connection_t* m_connection;
    xcb_window_t m_root = 0;
    xcb_key_symbols_t* m_symbols = nullptr;
    int m_xkbEvent = -1;
    int m_bells = 0;
};

// Fast key repeat while it lives, so a held shortcut would fire many times if repeats got through; the
// server's earlier setting comes back afterwards.
class FastKeyRepeat {
public:
    FastKeyRepeat() {
        QProcess query;
        query.start(QStringLiteral("xset"), {QStringLiteral("q")});
        query.waitForFinished(5000);
        const QString state = QString::fromLocal8Bit(query.readAllStandardOutput());
        const auto on = QRegularExpression(QStringLiteral("auto repeat:\\s+(on|off)")).match(state);
        const auto rate =
            QRegularExpression(QStringLiteral("auto repeat delay:\\s+(\\d+)\\s+repeat rate:\\s+(\\d+)"))
                .match(state);
        if (on.hasMatch())
            m_wasOn = on.captured(1) == u"on";
        if (rate.hasMatch())
            m_rate = {rate.captured(1), rate.captured(2)};
        QProcess::execute(QStringLiteral("xset"), {"r", "on"});
        QProcess::execute(QStringLiteral("xset"), {"r", "rate", "100", "40"});
    }
    ~FastKeyRepeat() {
        QProcess::execute(QStringLiteral("xset"), QStringList{"r", "rate"} + m_rate);
        QProcess::execute(QStringLiteral("xset"), {"r", m_wasOn ? "on" : "off"});
    }

private:
    bool m_wasOn = true;
    QStringList m_rate{QStringLiteral("660"), QStringLiteral("25")};
};

void pause(int ms) {
    waitUntil([] { return false; }, ms);
}

class HelperHotKeys : public HelperTest {
protected:
    void SetUp() override {
        HelperTest::SetUp();
        ASSERT_TRUE(keyboard.ok()) << "needs an X display";
    }
    void TearDown() override {
        main.reset();
        mainApp.releaseName(kMainName);
        HelperTest::TearDown();
    }

    // The test in the main application's place: it owns the name and is the helper's peer.
    void startWithMainApp(HelperConnection::Answer answer = HelperConnection::Answer::Allow) {
        ASSERT_TRUE(mainApp.ownName(kMainName));
        ASSERT_TRUE(startHelper()) << helperOutput().toStdString();
        main = std::make_unique<HelperConnection>(answer);
        ASSERT_TRUE(main->sendWithReply(12)) << helperOutput().toStdString();
    }
    size_t count(uint64_t kind) const { return main->log.messages(kind).size(); }

    XClient keyboard;
    std::unique_ptr<HelperConnection> main;
};

TEST_F(HelperHotKeys, HeldFullScreenShortcutCapturesOnceWhenReleased) {
    ASSERT_NO_FATAL_FAILURE(startWithMainApp());
    {
        FastKeyRepeat repeat;
        keyboard.down(XK_Control_L);
        keyboard.down(XK_Shift_L);
        keyboard.down(XK_6);
        pause(500); // held: about 40 repeats, and still nothing may happen
        EXPECT_EQ(count(3), 0u);
        EXPECT_EQ(count(8), 0u);
        keyboard.up(XK_6);
        keyboard.up(XK_Shift_L);
        keyboard.up(XK_Control_L);
    }
    ASSERT_TRUE(main->log.waitForMessages(8, 1)) << helperOutput().toStdString();
    pause(500);
    EXPECT_EQ(count(3), 1u);
    ASSERT_EQ(count(8), 1u);
    const xpc_object_t shot = main->log.messages(8).front();
    EXPECT_TRUE(QString::fromUtf8(xpc_dictionary_get_string(shot, "title")).startsWith("Fullscreen "));
    QImage image;
    ASSERT_TRUE(image.loadFromData(xpc_dictionary_get_data(shot, "PNGData"), "PNG"));
    EXPECT_EQ(image.size(), QSize(int(xpc_dictionary_get_uint64(shot, "width")),
                                  int(xpc_dictionary_get_uint64(shot, "height"))));
}

TEST_F(HelperHotKeys, PreviousAreaShortcutWithoutAPreviousAreaBeepsAndStartsNothing) {
    ASSERT_NO_FATAL_FAILURE(startWithMainApp());
    ASSERT_TRUE(keyboard.watchBell());
    keyboard.type({XK_Control_L, XK_Shift_L, XK_Alt_L}, XK_5);
    EXPECT_TRUE(waitUntil([&] { return keyboard.bells() >= 1; })) << helperOutput().toStdString();
    pause(500);
    EXPECT_EQ(keyboard.bells(), 1);
    EXPECT_EQ(count(3), 0u);
    EXPECT_EQ(count(8), 0u);
    EXPECT_TRUE(helper->isRunning());
}

TEST_F(HelperHotKeys, ShowGlimraShortcutLaunchesTheMainApplication) {
    ASSERT_NO_FATAL_FAILURE(registerUrlHandler());
    home.writeHelperSetting("StartHelperAtLogin", "true");
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();
    ASSERT_FALSE(nameHasOwner(kMainName));

    keyboard.type({XK_Control_L, XK_Shift_L, XK_Alt_L}, XK_1);
    ASSERT_TRUE(waitUntil([] { return nameHasOwner(kMainName); }, 20000)) << helperOutput().toStdString();
    const QDBusReply<uint> pid = QDBusConnection::sessionBus().interface()->servicePid(kMainName);
    ASSERT_TRUE(pid.isValid());
    EXPECT_EQ(QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid.value())).canonicalFilePath(),
              QFileInfo(mainAppExecutable()).canonicalFilePath());
}

TEST_F(HelperHotKeys, ShowGlimraShortcutLeavesTheHelperAnsweringWhileTheUrlToolWorks) {
    // A URL tool that takes 3 s and then finds no handler: longer than the wait for the reply below.
    const QString started = home.path("gio-started");
    home.installTool("gio", QStringLiteral("touch '%1'\nsleep 3\nexit 2").arg(started));
    home.writeHelperSetting("StartHelperAtLogin", "true");
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();
    HelperConnection client;
    ASSERT_TRUE(client.sendWithReply(12)) << helperOutput().toStdString();

    keyboard.type({XK_Control_L, XK_Shift_L, XK_Alt_L}, XK_1);
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(started); })) << helperOutput().toStdString();
    // The link, the tray and the hot keys share the main thread with the shortcut's handler.
    EXPECT_TRUE(client.sendWithReply(12, 2000)) << helperOutput().toStdString();
    ASSERT_TRUE(helper->waitForLogLine("Failed to launch main app with URL glimra:///", 10000))
        << helperOutput().toStdString();
    EXPECT_TRUE(waitUntil([] { return nameHasOwner(kMainName); }, 10000)) << helperOutput().toStdString();
}

TEST_F(HelperHotKeys, ShowGlimraShortcutAsksARunningMainApplicationToComeToFront) {
    ASSERT_NO_FATAL_FAILURE(startWithMainApp());
    keyboard.type({XK_Control_L, XK_Shift_L, XK_Alt_L}, XK_1);
    ASSERT_TRUE(main->log.waitForMessages(11, 1)) << helperOutput().toStdString();
    pause(300);
    ASSERT_EQ(count(11), 1u);
    EXPECT_TRUE(xpc_dictionary_get_bool(main->log.messages(11).front(), "bool"));
    EXPECT_EQ(count(3), 0u);
}

TEST_F(HelperHotKeys, ShortcutHeldByAnotherClientIsLoggedAndTheOthersStillWork) {
    // Another application holds Ctrl+Shift+6 in every lock state before the helper starts.
    XClient other;
    ASSERT_TRUE(other.ok());
    const uint16_t numLock = other.numLockMask();
    ASSERT_NE(numLock, 0);
    for (xcb_keycode_t six : other.keycodes(XK_6))
        for (uint16_t locks :
             {uint16_t(0), uint16_t(XCB_MOD_MASK_LOCK), numLock, uint16_t(XCB_MOD_MASK_LOCK | numLock)})
            ASSERT_TRUE(other.grab(six, kCtrlShift | locks));

    // Refused captures: each of them is heard as a request and ends there.
    ASSERT_NO_FATAL_FAILURE(startWithMainApp(HelperConnection::Answer::Refuse));
    ASSERT_TRUE(helper->waitForLogLine(
        QStringLiteral("Could not register the fullscreen snap hot key.  Error = -9878")))
        << helperOutput().toStdString();
    EXPECT_EQ(helperOutput().count(QStringLiteral("Could not")), 1) << helperOutput().toStdString();

    ASSERT_TRUE(keyboard.watchBell());
    keyboard.type({XK_Control_L, XK_Shift_L, XK_Alt_L}, XK_5);
    EXPECT_TRUE(waitUntil([&] { return keyboard.bells() == 1; })) << "previous area";
    keyboard.type({XK_Control_L, XK_Shift_L}, XK_5);
    EXPECT_TRUE(main->log.waitForMessages(3, 1)) << "region";
    keyboard.type({XK_Control_L, XK_Shift_L, XK_Super_L}, XK_5);
    EXPECT_TRUE(main->log.waitForMessages(3, 2)) << "timed region";
    keyboard.type({XK_Control_L, XK_Shift_L, XK_Alt_L}, XK_1);
    ASSERT_TRUE(main->log.waitForMessages(11, 1)) << "show Glimra";
    EXPECT_TRUE(xpc_dictionary_get_bool(main->log.messages(11).front(), "bool"));

    keyboard.type({XK_Control_L, XK_Shift_L}, XK_6);
    pause(500);
    EXPECT_EQ(count(3), 2u);
    EXPECT_EQ(count(8), 0u);
    EXPECT_EQ(count(11), 1u);
}

TEST_F(HelperHotKeys, CapsLockAndNumLockDoNotStopAShortcut) {
    ASSERT_NO_FATAL_FAILURE(startWithMainApp());
    const uint16_t numLock = keyboard.numLockMask();
    ASSERT_NE(numLock, 0);
    // The locks start off and go back off whatever happens here.
    struct LocksOff {
        XClient& keyboard;
        uint16_t numLock;
        void apply() {
            if (keyboard.modifierState() & XCB_MOD_MASK_LOCK)
                keyboard.tap(XK_Caps_Lock);
            if (keyboard.modifierState() & numLock)
                keyboard.tap(XK_Num_Lock);
        }
        ~LocksOff() { apply(); }
    } locksOff{keyboard, numLock};
    locksOff.apply();

    const uint16_t all = XCB_MOD_MASK_LOCK | numLock;
    const struct {
        xcb_keysym_t tap;
        uint16_t locked;
    } steps[] = {{XK_Caps_Lock, XCB_MOD_MASK_LOCK}, {XK_Num_Lock, all}, {XK_Caps_Lock, numLock}};
    size_t shots = 0;
    for (const auto& step : steps) {
        keyboard.tap(step.tap);
        ASSERT_EQ(keyboard.modifierState() & all, step.locked);
        keyboard.type({XK_Control_L, XK_Shift_L}, XK_6);
        EXPECT_TRUE(main->log.waitForMessages(8, ++shots)) << "locks " << step.locked;
    }
}

} // namespace
