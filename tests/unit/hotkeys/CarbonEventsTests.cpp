#include "hotkeys/CarbonEvents.h"
#include "hotkeys/HotKeyCenter.h"
#include "null/NullDesktop.h"

#include <gtest/gtest.h>

using namespace carbon;

namespace {

OSStatus ignoreEvent(EventHandlerCallRef, EventRef, void*) {
    return noErr;
}

} // namespace

TEST(CarbonHotKeysWithoutDisplay, CallsFailCleanly) {
    HotKeyCenter center(glimra::null::NullDesktop().makeHotKeyBackend());

    const EventTypeSpec released{kEventClassKeyboard, kEventHotKeyReleased};
    EventHandlerRef handler = nullptr;
    ASSERT_EQ(InstallEventHandler(center.target(), ignoreEvent, 1, &released, nullptr, &handler), noErr);
    EXPECT_EQ(RemoveEventHandler(handler), noErr);
    EXPECT_EQ(RemoveEventHandler(handler), paramErr);
    EXPECT_EQ(InstallEventHandler(nullptr, ignoreEvent, 1, &released, nullptr, nullptr), paramErr);

    const EventHotKeyID id{makeFourCharCode("GlHk"), 1};
    EventHotKeyRef hotKey = nullptr;
    EXPECT_EQ(RegisterEventHotKey(kVK_ANSI_5, cmdKey | shiftKey, id, center.target(), 0, &hotKey),
              eventInternalErr);
    EXPECT_EQ(hotKey, nullptr);
    // Input errors are reported as such even without a display.
    EXPECT_EQ(RegisterEventHotKey(0x0A, cmdKey, id, center.target(), 0, &hotKey), eventHotKeyInvalidErr);
    EXPECT_EQ(RegisterEventHotKey(kVK_ANSI_5, cmdKey, id, nullptr, 0, &hotKey), paramErr);
    EXPECT_EQ(UnregisterEventHotKey(nullptr), paramErr);
}
