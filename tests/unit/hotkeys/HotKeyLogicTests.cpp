#include "hotkeys/CarbonEvents.h"
#include "hotkeys/HotKeyLogic.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

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

TEST(HotKeyModifiers, CarbonMasksBecomeXMasksWithTheQtConvention) {
    const ModifierLayout standard;
    EXPECT_EQ(xModifiersFromCarbon(carbon::cmdKey | carbon::shiftKey, standard), kCtrlShift);
    EXPECT_EQ(xModifiersFromCarbon(0xB00, standard), kCtrlShift | kMod1Mask);
    EXPECT_EQ(xModifiersFromCarbon(0x1300, standard), kCtrlShift | kMod4Mask);
    EXPECT_EQ(xModifiersFromCarbon(0, standard), 0);

    const ModifierLayout moved{.alt = kMod5Mask, .super = kMod3Mask, .numLock = kMod2Mask};
    EXPECT_EQ(xModifiersFromCarbon(carbon::optionKey | carbon::controlKey, moved), kMod5Mask | kMod3Mask);

    EXPECT_FALSE(xModifiersFromCarbon(carbon::cmdKey | carbon::alphaLock, standard));
    EXPECT_FALSE(xModifiersFromCarbon(0x0001, standard));
}

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
