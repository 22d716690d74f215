#include "hotkeys/CarbonEvents.h"
#include "hotkeys/HotKeyCenter.h"

#include <gtest/gtest.h>

using namespace carbon;

namespace {

OSStatus ignoreEvent(EventHandlerCallRef, EventRef, void*) {
    return noErr;
}

} // namespace

TEST(CarbonEventParameters, HotKeyIdIsTheDirectObject) {
    OpaqueEventRef event{kEventClassKeyboard, kEventHotKeyReleased, {makeFourCharCode("GlHk"), 5}};
    EXPECT_EQ(makeFourCharCode("GlHk"), 0x476C486Bu);
    EXPECT_EQ(GetEventClass(&event), kEventClassKeyboard);
    EXPECT_EQ(GetEventKind(&event), kEventHotKeyReleased);

    EventHotKeyID id{};
    EventParamType type = 0;
    ByteCount size = 0;
    ASSERT_EQ(
        GetEventParameter(&event, kEventParamDirectObject, typeEventHotKeyID, &type, sizeof id, &size, &id),
        noErr);
    EXPECT_EQ(id.signature, makeFourCharCode("GlHk"));
    EXPECT_EQ(id.id, 5u);
    EXPECT_EQ(type, typeEventHotKeyID);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(
        GetEventParameter(&event, kEventParamDirectObject, typeWildCard, nullptr, sizeof id, nullptr, &id),
        noErr);
    EXPECT_EQ(
        GetEventParameter(&event, kEventParamDirectObject, typeEventHotKeyID, nullptr, 0, &size, nullptr),
        noErr);
}

TEST(CarbonEventParameters, BadRequestsFailWithoutWriting) {
    OpaqueEventRef event{kEventClassKeyboard, kEventHotKeyPressed, {makeFourCharCode("GlHk"), 1}};
    EventHotKeyID id{0xdeadbeef, 0xdeadbeef};
    EXPECT_EQ(GetEventParameter(&event, makeFourCharCode("kcod"), typeEventHotKeyID, nullptr, sizeof id,
                                nullptr, &id),
              eventParameterNotFoundErr);
    EXPECT_EQ(GetEventParameter(&event, kEventParamDirectObject, makeFourCharCode("magn"), nullptr, sizeof id,
                                nullptr, &id),
              errAECoercionFail);
    EXPECT_EQ(GetEventParameter(&event, kEventParamDirectObject, typeEventHotKeyID, nullptr, 4, nullptr, &id),
              paramErr);
    EXPECT_EQ(GetEventParameter(nullptr, kEventParamDirectObject, typeEventHotKeyID, nullptr, sizeof id,
                                nullptr, &id),
              paramErr);
    EXPECT_EQ(id.signature, 0xdeadbeef);
    EXPECT_EQ(id.id, 0xdeadbeef);
    EXPECT_EQ(GetEventClass(nullptr), 0u);
    EXPECT_EQ(GetEventKind(nullptr), 0u);
}

TEST(CarbonHotKeysWithoutDisplay, CallsFailCleanly) {
    HotKeyCenter center(":65000");
    EXPECT_FALSE(center.hasDisplay());

    const EventTypeSpec released{kEventClassKeyboard, kEventHotKeyReleased};
    EventHandlerRef handler = nullptr;
    ASSERT_EQ(InstallEventHandler(center.target(), ignoreEvent, 1, &released, nullptr, &handler), noErr);
    EXPECT_EQ(RemoveEventHandler(handler), noErr);
    EXPECT_EQ(RemoveEventHandler(handler), paramErr);
    EXPECT_EQ(RemoveEventHandler(nullptr), paramErr);
    EXPECT_EQ(InstallEventHandler(center.target(), nullptr, 1, &released, nullptr, nullptr), paramErr);
    EXPECT_EQ(InstallEventHandler(center.target(), ignoreEvent, 0, &released, nullptr, nullptr), paramErr);
    EXPECT_EQ(InstallEventHandler(nullptr, ignoreEvent, 1, &released, nullptr, nullptr), paramErr);

    const EventHotKeyID id{makeFourCharCode("GlHk"), 1};
    EventHotKeyRef hotKey = nullptr;
    EXPECT_EQ(RegisterEventHotKey(kVK_ANSI_5, cmdKey | shiftKey, id, center.target(), 0, &hotKey),
              eventInternalErr);
    EXPECT_EQ(hotKey, nullptr);
    // Input errors are reported as such even without a display.
    EXPECT_EQ(RegisterEventHotKey(0x0A, cmdKey, id, center.target(), 0, &hotKey), eventHotKeyInvalidErr);
    EXPECT_EQ(RegisterEventHotKey(kVK_ANSI_5, alphaLock, id, center.target(), 0, &hotKey),
              eventHotKeyInvalidErr);
    EXPECT_EQ(RegisterEventHotKey(kVK_ANSI_5, cmdKey, id, center.target(), 0x80, &hotKey), paramErr);
    EXPECT_EQ(RegisterEventHotKey(kVK_ANSI_5, cmdKey, id, nullptr, 0, &hotKey), paramErr);
    EXPECT_EQ(UnregisterEventHotKey(nullptr), paramErr);
}
