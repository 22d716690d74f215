// The helper's global hot keys, typed through XTest on the session's X server while the real helper
// runs: what each shortcut starts, what the main application hears, and the bell. The shortcuts are
// physical keys, typed by key code with the server's keyboard in several layouts.

#include "HelperLink.h"

#include <QFile>

#include <X11/keysym.h>
#include <linux/input-event-codes.h>

using namespace xpc;
using namespace glimra::test;
using namespace std::chrono_literals;

namespace {

constexpr uint16_t kCtrlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;
// The key marked 6 as the X server numbers it (evdev's code + 8).
constexpr xcb_keycode_t kSix = KEY_6 + 8;

class HelperHotKeys : public HelperTest {
protected:
    void SetUp() override {
        HelperTest::SetUp();
        ASSERT_TRUE(keyboard.ok()) << "needs an X display";
    }
    size_t count(uint64_t kind) const { return main->log.messages(kind).size(); }

    XClient keyboard;
};

// The server's keyboard in the layout of the row while the helper runs.
class HelperHotKeysIn : public HelperHotKeys, public ::testing::WithParamInterface<KeyboardLayoutName> {
protected:
    void SetUp() override {
        ASSERT_TRUE(layout.ok());
        HelperHotKeys::SetUp();
        // The new keymap reaches XTest's device with its first key; shortcuts typed right after that
        // switch were seen to miss the passive grabs now and then. One harmless key makes it first.
        keyboard.type({}, XK_Shift_L);
    }
    XkbLayout layout{GetParam()};
};

TEST_P(HelperHotKeysIn, HeldFullScreenShortcutCapturesOnceWhenReleased) {
    ASSERT_NO_FATAL_FAILURE(startAsMainApp());
    {
        FastKeyRepeat repeat;
        keyboard.key(XK_Control_L, true);
        keyboard.key(XK_Shift_L, true);
        keyboard.pressCode(kSix, true);
        pause(500); // held: about 40 repeats, and still nothing may happen
        EXPECT_EQ(count(3), 0u);
        keyboard.key(XK_Shift_L, false);
        keyboard.key(XK_Control_L, false);
        keyboard.pressCode(kSix, false);
    }
    ASSERT_TRUE(main->log.waitForMessages(8, 1));
    pause(500);
    EXPECT_EQ(count(3), 1u);
    ASSERT_EQ(count(8), 1u);
    const Screenshot shot = screenshot(1);
    ASSERT_FALSE(shot.image.isNull());
    EXPECT_EQ(shot.image.size(), shot.points);
}

// Every shortcut while another application holds one of them: the held one is logged, named as the
// layout shows it, and each of the others starts what it stands for.
TEST_P(HelperHotKeysIn, ShortcutHeldByAnotherClientIsLoggedAndTheOthersStillWork) {
    // Only the last lock variant is taken, so the helper's grabs of the others succeed and must be let
    // go again.
    XClient other;
    const uint16_t numLock = other.numLockMask();
    ASSERT_NE(numLock, 0);
    ASSERT_TRUE(other.grab(kSix, kCtrlShift | XCB_MOD_MASK_LOCK | numLock));

    // Refused captures: each of them is heard as a request and ends there.
    ASSERT_NO_FATAL_FAILURE(startAsMainApp(HelperConnection::Answer::Refuse));
    ASSERT_TRUE(helper->waitForLogLine("Could not register the fullscreen snap hot key.  Error = -9878"));
    EXPECT_TRUE(helperOutput().contains(QStringLiteral("another X client holds Ctrl+Shift+6")));
    EXPECT_EQ(helperOutput().count(QStringLiteral("Could not")), 1);
    for (const int locks : {0, int(XCB_MOD_MASK_LOCK), int(numLock)})
        EXPECT_TRUE(keyboard.canGrab(kSix, uint16_t(kCtrlShift | locks))) << locks;

    ASSERT_TRUE(keyboard.watchBells());
    keyboard.typeCode({XK_Control_L, XK_Shift_L, XK_Alt_L}, KEY_5);
    EXPECT_EQ(keyboard.bells(1, 5s, 300ms), 1) << "previous area, before there is one";
    EXPECT_EQ(count(3), 0u);
    keyboard.typeCode({XK_Control_L, XK_Shift_L}, KEY_5);
    EXPECT_TRUE(main->log.waitForMessages(3, 1)) << "region";
    // Refused with a bell: until then the capture runs, and a shortcut meanwhile rings instead.
    EXPECT_EQ(keyboard.bells(2, 5s, 0ms), 2) << "region refused";
    keyboard.typeCode({XK_Control_L, XK_Shift_L, XK_Super_L}, KEY_5);
    EXPECT_TRUE(main->log.waitForMessages(3, 2)) << "timed region";
    EXPECT_EQ(keyboard.bells(3, 5s, 0ms), 3) << "timed region refused";
    keyboard.typeCode({XK_Control_L, XK_Shift_L, XK_Alt_L}, KEY_1);
    ASSERT_TRUE(main->log.waitForMessages(11, 1)) << "show Glimra";
    EXPECT_TRUE(xpc_dictionary_get_bool(main->log.messages(11).front(), "bool"));

    keyboard.typeCode({XK_Control_L, XK_Shift_L}, KEY_6);
    pause(500);
    EXPECT_EQ(count(3), 2u);
    EXPECT_EQ(count(8), 0u);
    EXPECT_EQ(count(11), 1u);
}

struct UrlToolWait {
    const char* name;
    bool helperQuits;
};

class ShowGlimraWhileTheUrlToolWorks : public HelperHotKeys,
                                       public ::testing::WithParamInterface<UrlToolWait> {};

// The helper answers while the URL tool works; when the tool finds no handler, the bundle is started
// directly, but a helper that quits meanwhile lets the tool go with it and starts nothing.
TEST_P(ShowGlimraWhileTheUrlToolWorks, LeavesTheHelperAnsweringThenStartsTheBundleUnlessItQuit) {
    // A URL tool that takes 3 s and then finds no handler: longer than the wait for the reply below.
    const QString started = home.path("gio-started");
    home.installTool("gio", QStringLiteral("touch '%1'\nsleep 3\nexit 2").arg(started));
    home.writeHelperSetting("StartHelperAtLogin", "true");
    ASSERT_TRUE(startHelper());
    HelperConnection client;
    ASSERT_TRUE(client.sendWithReply(12));

    keyboard.type({XK_Control_L, XK_Shift_L, XK_Alt_L}, XK_1);
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(started); }));
    // The link, the tray and the hot keys share the main thread with the shortcut's handler.
    EXPECT_TRUE(client.sendWithReply(12, 2000));
    if (GetParam().helperQuits) {
        helper->terminate();
        ASSERT_TRUE(helper->waitForExit());
        EXPECT_EQ(helper->exitCode(), 0);
        EXPECT_FALSE(helperOutput().contains("Failed to launch main app"));
        return;
    }
    ASSERT_TRUE(helper->waitForLogLine("Failed to launch main app with URL glimra:///", 10000));
    EXPECT_TRUE(waitUntil([] { return nameHasOwner(kMainAppName); }, 10000));
}

INSTANTIATE_TEST_SUITE_P(HelperHotKeys, HelperHotKeysIn, ::testing::ValuesIn(kKeyboardLayouts), caseName);

INSTANTIATE_TEST_SUITE_P(HelperHotKeys, ShowGlimraWhileTheUrlToolWorks,
                         ::testing::Values(UrlToolWait{"ToolFails", false}, UrlToolWait{"HelperQuits", true}),
                         caseName);

} // namespace

namespace {

QString gsettings(const QProcessEnvironment& env, const QStringList& arguments) {
    Program program(QStringLiteral("gsettings"), arguments, env);
    program.waitForExit();
    return program.output().trimmed();
}

} // namespace

// The lines printed for GNOME, run through a shell against GNOME's real schema (in a settings file of
// the test's home), add the five shortcuts beside the user's own, and running them again changes
// nothing; printing them changes nothing.
TEST_F(HelperHotKeys, PrintedGnomeShortcutsAddTheFiveBesideTheUsersOwn) {
    const QString schema = QStringLiteral("org.gnome.settings-daemon.plugins.media-keys");
    const QString folder = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";
    if (!gsettings(home.environment(), {"list-schemas"}).contains(schema))
        GTEST_SKIP() << "GNOME's settings schemas are not installed";
    home.setVariable("GSETTINGS_BACKEND", "keyfile");
    const QProcessEnvironment env = home.environment();
    gsettings(env, {"set", schema, "custom-keybindings", "['" + folder + "custom0/']"});
    const QString mine = gsettings(env, {"get", schema, "custom-keybindings"});
    Program printing(kHelperExecutable, {"--print-gnome-shortcuts"}, env);
    ASSERT_TRUE(printing.waitForExit());
    EXPECT_EQ(printing.exitCode(), 0);
    EXPECT_EQ(gsettings(env, {"get", schema, "custom-keybindings"}), mine);

    for (int run = 0; run < 2; ++run) {
        Program shell(QStringLiteral("sh"), {"-c", printing.output()}, env);
        ASSERT_TRUE(shell.waitForExit());
        EXPECT_EQ(shell.exitCode(), 0);
    }
    QStringList expected{"'" + folder + "custom0/'"};
    for (const char* action : {"capture-region", "capture-previous-area", "capture-region-timed",
                               "capture-fullscreen", "show-main-app"})
        expected << "'" + folder + "glimra-" + action + "/'";
    EXPECT_EQ(gsettings(env, {"get", schema, "custom-keybindings"}), "[" + expected.join(", ") + "]");
    const QString fullscreen = schema + ".custom-keybinding:" + folder + "glimra-capture-fullscreen/";
    EXPECT_EQ(gsettings(env, {"get", fullscreen, "binding"}), "'<Control><Shift>6'");
    EXPECT_EQ(gsettings(env, {"get", fullscreen, "command"}),
              "'gapplication action app.glimra.GlimraHelper capture-fullscreen'");
    EXPECT_EQ(gsettings(env, {"get", fullscreen, "name"}), "'Capture Full Screen'");
    const QString timed = schema + ".custom-keybinding:" + folder + "glimra-capture-region-timed/";
    EXPECT_EQ(gsettings(env, {"get", timed, "binding"}), "'<Super><Control><Shift>5'");
}
