#include "hotkeys/CarbonEvents.h"
#include "hotkeys/HotKeyLogic.h"
#include "hotkeys/HotKeyNames.h"
#include "hotkeys/KeyboardLayout.h"
#include "wayland/SwayConfig.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon.h>

using namespace glimra::hotkeys;

namespace {

constexpr uint16_t kCtrlShift = kControlMask | kShiftMask;
constexpr uint16_t kButton1Mask = 1 << 8;

ModifierLayout layoutOf(const std::vector<std::vector<Keycode>>& rows,
                        const std::map<Keycode, std::vector<Keysym>>& keysyms) {
    return modifierLayoutFromMap(rows, [&](Keycode keycode) {
        auto it = keysyms.find(keycode);
        return it == keysyms.end() ? std::vector<Keysym>{} : it->second;
    });
}

} // namespace

TEST(HotKeyModifiers, LocksAreGrabbedInEveryStateAndIgnoredWhenMatching) {
    const ModifierLayout withNumLock{.numLock = kMod2Mask};
    EXPECT_EQ(lockVariants(kCtrlShift, withNumLock),
              (std::vector<uint16_t>{kCtrlShift, kCtrlShift | kLockMask, kCtrlShift | kMod2Mask,
                                     kCtrlShift | kLockMask | kMod2Mask}));
    EXPECT_EQ(lockVariants(kCtrlShift, ModifierLayout{}),
              (std::vector<uint16_t>{kCtrlShift, kCtrlShift | kLockMask}));

    const uint16_t state = kCtrlShift | kLockMask | kMod2Mask | kButton1Mask;
    EXPECT_EQ(significantModifiers(state, withNumLock), kCtrlShift);
    // Mod2 is an ordinary modifier where Num Lock lives elsewhere.
    EXPECT_EQ(significantModifiers(state, ModifierLayout{.numLock = kMod5Mask}), kCtrlShift | kMod2Mask);
}

TEST(HotKeyModifiers, LayoutFollowsTheModifierMap) {
    // Shift, Lock, Control, Mod1 ... Mod5 as an Xvfb server lists them.
    const std::map<Keycode, std::vector<Keysym>> keysyms{
        {50, {XK_Shift_L}},          {66, {XK_Caps_Lock}}, {37, {XK_Control_L}},
        {64, {XK_Alt_L, XK_Meta_L}}, {205, {XK_Meta_L}},   {77, {XK_Num_Lock}},
        {133, {XK_Super_L}},         {207, {XK_Hyper_L}},  {92, {XK_ISO_Level3_Shift}}};
    EXPECT_EQ(layoutOf({{50}, {66}, {37}, {64, 205}, {77}, {}, {133, 207}, {92}}, keysyms),
              (ModifierLayout{.alt = kMod1Mask, .super = kMod4Mask, .numLock = kMod2Mask}));

    // Unusual maps: Alt only as Meta, Super on Mod3, Num Lock on Mod5; empty slots are key code 0.
    EXPECT_EQ(layoutOf({{50}, {66}, {37}, {0}, {205}, {133}, {}, {77}}, keysyms),
              (ModifierLayout{.alt = kMod2Mask, .super = kMod3Mask, .numLock = kMod5Mask}));

    // Nothing found: the conventional bits, no Num Lock; Shift, Lock and Control rows are never used.
    EXPECT_EQ(layoutOf({{77}, {133}, {64}, {}, {}, {}, {}, {}}, keysyms), ModifierLayout{});
}

TEST(HotKeyMatcher, OnePressAndOneReleasePerKeystroke) {
    HotKeyMatcher matcher;
    matcher.bind(1, {14}, kCtrlShift);

    EXPECT_EQ(matcher.press(14, kCtrlShift), 1u);
    // Auto-repeat while held, with or without the modifiers still down.
    EXPECT_FALSE(matcher.press(14, kCtrlShift));
    EXPECT_FALSE(matcher.press(14, 0));
    // The modifiers are often up before the key.
    EXPECT_EQ(matcher.release(14), 1u);
    EXPECT_FALSE(matcher.release(14));

    EXPECT_FALSE(matcher.press(14, kControlMask));
    EXPECT_FALSE(matcher.release(14));
    EXPECT_FALSE(matcher.press(15, kCtrlShift));
    EXPECT_EQ(matcher.press(14, kCtrlShift), 1u);
}

TEST(HotKeyMatcher, UnbindingDropsThePendingReleaseButRebindingKeepsIt) {
    HotKeyMatcher matcher;
    matcher.bind(1, {14}, kCtrlShift);
    matcher.bind(2, {15}, kCtrlShift);
    ASSERT_EQ(matcher.press(14, kCtrlShift), 1u);
    ASSERT_EQ(matcher.press(15, kCtrlShift), 2u);

    matcher.unbind(1);
    matcher.bind(2, {}, kCtrlShift); // its key vanished from the keyboard mapping
    EXPECT_FALSE(matcher.release(14));
    EXPECT_EQ(matcher.release(15), 2u);
    EXPECT_FALSE(matcher.press(14, kCtrlShift));
    EXPECT_FALSE(matcher.press(15, kCtrlShift));
}

TEST(DesktopShortcuts, CombinationsAsSwayAndThePortalTakeThem) {
    using namespace carbon;
    const UInt32 timed = cmdKey | shiftKey | controlKey, previous = cmdKey | shiftKey | optionKey;
    EXPECT_EQ(swayCombination(kVK_ANSI_5, timed), QStringLiteral("Mod4+Ctrl+Shift+5"));
    EXPECT_EQ(swayCombination(kVK_ANSI_5, previous, true), QStringLiteral("Ctrl+Mod1+percent"));
    EXPECT_EQ(swayCombination(kVK_Escape, 0), QStringLiteral("Escape"));
    EXPECT_EQ(portalTrigger(kVK_ANSI_5, timed), QStringLiteral("LOGO+CTRL+SHIFT+5"));
    // KDE Plasma matches a Shift that changes the symbol by the symbol; letters keep their Shift.
    EXPECT_EQ(portalTrigger(kVK_ANSI_6, cmdKey | shiftKey, true), QStringLiteral("CTRL+asciicircum"));
    EXPECT_EQ(portalTrigger(kVK_ANSI_1, previous, true), QStringLiteral("CTRL+ALT+exclam"));
    EXPECT_EQ(portalTrigger(kVK_ANSI_Q, cmdKey | shiftKey, true), QStringLiteral("CTRL+SHIFT+q"));
    EXPECT_EQ(portalTrigger(0x0A, cmdKey), QString()) << "a key code without a key";

    // A hot key that is none of the helper's own is named after its signature and number.
    const HotKeyAction other = hotKeyAction({makeFourCharCode("GlEs"), 1}, kVK_Escape, 0);
    EXPECT_EQ(other.name, QStringLiteral("hotkey-gles-1"));
    EXPECT_EQ(other.description, QStringLiteral("Escape"));
}

TEST(SwayConfiguration, BindingsOfTheDefaultModeAreTheUsers) {
    using glimra::wayland::SwayKeys;
    const QString config = QStringLiteral(R"(# sway's own example, shortened
set $mod Mod4
set $mode_resize "resize"
bindsym $mod+Shift+5 move container to workspace number 5
bindsym --release --no-warn CTRL+shift+6 exec grim
bindsym Ctrl+percent \
    exec slurp
#bindsym Ctrl+Shift+1 exec commented-out
bindsym --to-code {
    $mod+Return exec foot
    Mod1+Escape "exec a; exec b"
}
mode $mode_resize {
    bindsym Escape mode "default"
}
mode "default" {
    bindsym Mod4+Mod1+Ctrl+Shift+5 nop
}
bar {
    bindsym button1 nop
}
bindcode 133+14 exec by-key-code
include ~/.config/sway/config.d/*
)");
    QStringList asked;
    const auto included = [&](const QString& argument) {
        asked << argument;
        return QStringList{asked.size() == 1 ? "bindsym $mod+q kill\ninclude again" : "include again"};
    };
    const std::vector<SwayKeys> bound = glimra::wayland::swayConfigBindings(config, included);
    const auto keys = [](uint32_t modifiers, const char* key) {
        return SwayKeys{modifiers, {QLatin1String(key)}};
    };
    EXPECT_EQ(bound, (std::vector<SwayKeys>{keys(64 | 1, "5"), keys(4 | 1, "6"), keys(4, "percent"),
                                            keys(64, "return"), keys(8, "escape"), keys(64 | 8 | 4 | 1, "5"),
                                            SwayKeys{0, {"133", "14"}, true}, keys(64, "q")}));
    EXPECT_EQ(asked.first(), QStringLiteral("~/.config/sway/config.d/*"));
    EXPECT_EQ(asked.size(), 16) << "an include that includes itself stops";
    EXPECT_FALSE(glimra::wayland::parseSwayKeys(QStringLiteral("Ctrl+Shift")));
}

namespace {

struct LayoutNames {
    const char* name;
    const char* layout;
    const char* variant;
    const char* names;  // Ctrl+Shift+5, Ctrl+Shift+6, Ctrl+Shift+Alt+1 as the layout shows them
    Keysym shiftedFive; // what Shift gives the key marked 5, as sway and KWin read it
};

class KeyboardLayouts : public ::testing::TestWithParam<LayoutNames> {};

} // namespace

// The hot keys stay on the number row's keys and are named by the digit the layout puts there, with or
// without Shift; a row without digits is named by its symbols; Qt orders the modifiers.
TEST_P(KeyboardLayouts, PlaceTheKeysOnTheNumberRowAndNameThemAsTheLayoutShowsThem) {
    using namespace carbon;
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS),
                                                                       &xkb_context_unref);
    const xkb_rule_names names{"evdev", "pc105", GetParam().layout, GetParam().variant, ""};
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS), &xkb_keymap_unref);
    ASSERT_TRUE(keymap);
    const KeyboardLayout layout(keymap.get());
    EXPECT_EQ(layout.keycode(kVK_ANSI_5), uint32_t(KEY_5 + 8));
    EXPECT_EQ(layout.keycode(kVK_Escape), uint32_t(KEY_ESC + 8));
    EXPECT_EQ(layout.shiftedKeysym(kVK_ANSI_5), GetParam().shiftedFive);
    const QString shown = describeHotKey(kVK_ANSI_5, cmdKey | shiftKey, layout) + u' ' +
                          describeHotKey(kVK_ANSI_6, cmdKey | shiftKey, layout) + u' ' +
                          describeHotKey(kVK_ANSI_1, cmdKey | shiftKey | optionKey, layout);
    EXPECT_EQ(shown, QString::fromUtf8(GetParam().names));
    EXPECT_EQ(keySequence(kVK_ANSI_5, cmdKey | shiftKey | controlKey, layout).toString(),
              QStringLiteral("Meta+Ctrl+Shift+") + shown.at(11));
}

INSTANTIATE_TEST_SUITE_P(
    HotKeyNames, KeyboardLayouts,
    ::testing::Values(
        LayoutNames{"Us", "us", "", "Ctrl+Shift+5 Ctrl+Shift+6 Ctrl+Alt+Shift+1", XK_percent},
        LayoutNames{"French", "fr", "", "Ctrl+Shift+5 Ctrl+Shift+6 Ctrl+Alt+Shift+1", XK_5},
        LayoutNames{"Dvorak", "us", "dvorak", "Ctrl+Shift+5 Ctrl+Shift+6 Ctrl+Alt+Shift+1", XK_percent},
        // Programmer Dvorak has the digits on Shift, in another order.
        LayoutNames{"ProgrammerDvorak", "us", "dvp", "Ctrl+Shift+1 Ctrl+Shift+9 Ctrl+Alt+Shift+&", XK_1},
        LayoutNames{"Lithuanian", "lt", "", "Ctrl+Shift+Į Ctrl+Shift+Š Ctrl+Alt+Shift+Ą", XK_Iogonek}),
    [](const auto& info) { return std::string(info.param.name); });
