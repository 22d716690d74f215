// Hot keys on Wayland desktops: sway's bindings, on a sway of the test's own whose configuration binds
// one of the helper's combinations, typed by key code with its virtual keyboard in several layouts; and
// the GlobalShortcuts portal, a portal of the test's own as documented, as KDE Plasma 5.27 has it, and
// silent.

#include "FakeShortcutsPortal.h"
#include "HotKeyRecorder.h"
#include "WaylandTestKit.h"
#include "hotkeys/EscapeKey.h"
#include "hotkeys/HotKeyCenter.h"
#include "wayland/PortalHotKeys.h"
#include "wayland/SwayHotKeys.h"

#include <QJsonArray>
#include <QJsonObject>

#include <X11/keysym.h>
#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon.h>

#include <ctime>

using namespace carbon;
using namespace glimra::test;
using namespace glimra::wayland;
using namespace std::chrono_literals;

namespace {

struct HelperHotKey {
    UInt32 keyCode;
    UInt32 modifiers;
    UInt32 id;
    const char* sway; // its binding, by key code
};

// The helper's five, in the order it registers them.
constexpr HelperHotKey kRegion{kVK_ANSI_5, cmdKey | shiftKey, 1, "Ctrl+Shift+14"};
constexpr HelperHotKey kFullScreen{kVK_ANSI_6, cmdKey | shiftKey, 3, "Ctrl+Shift+15"};
constexpr HelperHotKey kHelperHotKeys[] = {
    kRegion,
    {kVK_ANSI_5, cmdKey | shiftKey | optionKey, 2, "Ctrl+Mod1+Shift+14"},
    {kVK_ANSI_5, cmdKey | shiftKey | controlKey, 5, "Mod4+Ctrl+Shift+14"},
    kFullScreen,
    {kVK_ANSI_1, cmdKey | shiftKey | optionKey, 4, "Ctrl+Mod1+Shift+10"},
};

OSStatus add(HotKeyCenter& center, const HelperHotKey& h) {
    return RegisterEventHotKey(h.keyCode, h.modifiers, {makeFourCharCode("GlHk"), h.id}, center.target(), 0,
                               nullptr);
}

// The user's own binding of the helper's "show Glimra" combination: by its plain symbol, as sway reads it
// where the digit needs no Shift, and by the digit Shift gives on the French layout.
const QString kUsersOwn = "bindsym Ctrl+Shift+Mod1+1 nop users-own\nbindsym Ctrl+Mod1+1 nop users-own\n";

class SwayDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("SWAYSOCK"))
            GTEST_SKIP() << "needs the Wayland test session";
        ASSERT_TRUE(sway.start());
        ASSERT_TRUE(observe());
    }

    // A connection of the test's own that sees which bindings sway runs.
    bool observe() {
        observer = SwayIpc::connect(sway.socketPath());
        return observer && observer->request(SwayIpc::Subscribe, "[\"binding\"]");
    }

    // Whether sway holds a binding of key codes (with its flags); unbindcode answers "Could not find ..."
    // otherwise, and takes what it finds: a check for the end of a test.
    bool bound(const QString& keys) {
        return bool(swayCommand(*observer, QStringLiteral("unbindcode ") + keys));
    }
    // Every binding of the helper's is gone.
    void expectNoneLeft() {
        for (const HelperHotKey& h : kHelperHotKeys)
            for (const QString& flags : {QString(), QStringLiteral("--release ")})
                EXPECT_FALSE(bound(flags + QLatin1String(h.sway))) << flags.toStdString() << h.sway;
        EXPECT_FALSE(bound(QStringLiteral("9"))) << "Escape";
        EXPECT_FALSE(bound(QStringLiteral("--release 9"))) << "Escape";
    }
    // Whether sway ran a binding with this command since the last look.
    bool ran(const QString& command) {
        return waitUntil([&] {
            observer->readEvents();
            for (const SwayMessage& m : observer->takeEvents())
                if (QJsonDocument::fromJson(m.payload)
                        .object()[QLatin1String("binding")]
                        .toObject()[QLatin1String("command")] == command)
                    return true;
            return false;
        });
    }

    PrivateSway sway{kUsersOwn};
    std::unique_ptr<SwayIpc> observer;
};

class SwayDesktopIn : public SwayDesktop, public ::testing::WithParamInterface<KeyboardLayoutName> {};

TEST_P(SwayDesktopIn, ReleasesFireTheUsersBindingsStayAndNothingOutlivesTheCenter) {
    CapturedLog log;
    // A key of the keyboard makes it the seat's: sway hands its keymap to every client, the helper's too.
    WaylandInput keyboard(sway.display(), GetParam());
    ASSERT_TRUE(keyboard.ok());
    keyboard.typeCode({}, KEY_LEFTSHIFT);
    auto center = std::make_unique<HotKeyCenter>(SwayHotKeys::make(sway.socketPath(), sway.display()));
    EXPECT_STREQ(xkb_keymap_layout_get_name(center->layout().keymap(), 0), GetParam().description);
    HotKeyRecorder seen(center->target());
    std::vector<OSStatus> statuses;
    for (const HelperHotKey& h : kHelperHotKeys)
        statuses.push_back(add(*center, h));
    EXPECT_EQ(statuses, (std::vector<OSStatus>{noErr, noErr, noErr, noErr, eventHotKeyExistsErr}));
    EXPECT_TRUE(log.text().contains(QStringLiteral("sway's configuration binds Ctrl+Alt+Shift+1")))
        << log.text().toStdString();

    keyboard.typeCode({XK_Control_L, XK_Shift_L}, KEY_6);
    EXPECT_EQ(seen.after(2), " pressed 3 released 3");
    seen.clear();
    keyboard.typeCode({XK_Control_L, XK_Shift_L}, KEY_5);
    EXPECT_EQ(seen.after(2), " pressed 1 released 1");
    seen.clear();
    // The user's own binding runs, and only it.
    keyboard.typeCode({XK_Control_L, XK_Shift_L, XK_Alt_L}, KEY_1);
    EXPECT_TRUE(ran(QStringLiteral("nop users-own")));
    keyboard.typeCode({XK_Control_L, XK_Shift_L, XK_Super_L}, KEY_5);
    EXPECT_EQ(seen.after(2), " pressed 5 released 5");

    // A reload drops the bindings made at run time: they are made again.
    ASSERT_TRUE(observer->request(SwayIpc::RunCommand, "reload"));
    ASSERT_TRUE(log.waitFor(QStringLiteral("4 hot keys bound"))) << log.text().toStdString();
    seen.clear();
    keyboard.typeCode({XK_Control_L, XK_Shift_L}, KEY_6);
    EXPECT_EQ(seen.after(2), " pressed 3 released 3");

    center.reset();
    expectNoneLeft();
}

TEST_F(SwayDesktop, ComesBackAfterSwayRestartsAndAStaleSocketLeavesThePortal) {
    CapturedLog log;
    {
        HotKeyCenter center(SwayHotKeys::make(sway.socketPath()));
        HotKeyRecorder seen(center.target());
        ASSERT_EQ(add(center, kFullScreen), noErr);
        sway.stop();
        ASSERT_TRUE(log.waitFor(QStringLiteral("hot keys are off until sway answers again")));
        const std::clock_t cpu = std::clock();
        pause(1500);
        EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC / 2) << "a busy loop while sway is away";
        ASSERT_TRUE(sway.start());
        ASSERT_TRUE(observe());
        ASSERT_TRUE(log.waitFor(QStringLiteral("1 hot keys bound"), 15000)) << log.text().toStdString();
        WaylandInput keyboard(sway.display());
        ASSERT_TRUE(keyboard.ok());
        keyboard.type({XK_Control_L, XK_Shift_L}, XK_6);
        EXPECT_EQ(seen.after(2), " pressed 3 released 3");
    }

    expectNoneLeft();

    // A SWAYSOCK left from another session leaves the portal (the session's has no GlobalShortcuts).
    QProcessEnvironment stale = sway.environment();
    stale.insert(QStringLiteral("SWAYSOCK"), sway.socketPath() + QStringLiteral(".gone"));
    Program elsewhere(QStringLiteral(GLIMRA_HOTKEY_HOLDER), {}, stale);
    EXPECT_TRUE(elsewhere.waitForLogLine(QStringLiteral("Hot keys through the desktop portal")))
        << elsewhere.output().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Wayland, SwayDesktopIn, ::testing::ValuesIn(kKeyboardLayouts), caseName);

struct PortalCase {
    const char* name;
    FakeShortcutsPortal::Behaviour behaviour;
};

class ShortcutsPortal : public ::testing::TestWithParam<PortalCase> {};

TEST_P(ShortcutsPortal, BindsInOneSessionAndReleasesFireOrSilenceIsLogged) {
    using Behaviour = FakeShortcutsPortal::Behaviour;
    const Behaviour behaviour = GetParam().behaviour;
    CapturedLog log;
    const QString service = QStringLiteral("app.glimra.test.Shortcuts");
    FakeShortcutsPortal portal(service, behaviour);
    ASSERT_TRUE(portal.ok());
    PortalHotKeysOptions options;
    options.service = service;
    options.sessionTimeout = options.bindTimeout = 500ms;
    options.shiftedSymbols = false;
    HotKeyCenter center(std::make_unique<PortalHotKeys>(options));
    HotKeyRecorder seen(center.target());
    // Registered at once; the desktop answers later.
    EXPECT_EQ(add(center, kFullScreen), noErr);
    EXPECT_EQ(add(center, kRegion), noErr);
    EXPECT_FALSE(glimra::makeEscapeKey(center)->grab([] {})) << "Escape would need the user's consent";

    if (behaviour == Behaviour::Silent) {
        // After the portal request's own line about the timeout.
        EXPECT_TRUE(log.waitFor("Hot keys are off: the desktop portal made no session", 3000));
        EXPECT_EQ(portal.createSessionCalls, 1);
        return;
    }
    ASSERT_TRUE(log.waitFor(QStringLiteral("Hot keys bound by the desktop"))) << log.text().toStdString();
    EXPECT_EQ(portal.createSessionCalls, 1) << "one session for both";
    // KDE Plasma 5.27 opens its shortcut settings for BindShortcuts.
    EXPECT_EQ(portal.bindShortcutsCalls, behaviour == Behaviour::Documented ? 1 : 0);
    ASSERT_EQ(portal.offered.size(), 2u);
    EXPECT_EQ(portal.offered[0].id, QStringLiteral("capture-fullscreen"));
    EXPECT_EQ(portal.offered[0].description, QStringLiteral("Capture Full Screen"));
    EXPECT_EQ(portal.offered[0].trigger, QStringLiteral("CTRL+SHIFT+6"));
    EXPECT_EQ(portal.offered[1].id, QStringLiteral("capture-region"));
    EXPECT_EQ(portal.offered[1].trigger, QStringLiteral("CTRL+SHIFT+5"));

    portal.press("capture-fullscreen");
    EXPECT_EQ(seen.after(2), " pressed 3 released 3");
    seen.clear();
    portal.press("capture-region", "/org/freedesktop/portal/desktop/session/x/y");
    EXPECT_EQ(seen.after(0), " nothing") << "another session's shortcut";
}

INSTANTIATE_TEST_SUITE_P(
    Wayland, ShortcutsPortal,
    ::testing::Values(PortalCase{"Documented", FakeShortcutsPortal::Behaviour::Documented},
                      PortalCase{"AsKdePlasma5", FakeShortcutsPortal::Behaviour::BindsAtCreateSession},
                      PortalCase{"Silent", FakeShortcutsPortal::Behaviour::Silent}),
    caseName);

} // namespace
