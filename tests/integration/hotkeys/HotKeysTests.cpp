// Drives the hot keys with XTest key events on the session's X server: a new keyboard layout and the
// mouse monitor. The helper's tests take a held combination, the modifiers and the lock keys.

#include "HotKeyRecorder.h"
#include "XTestKit.h"
#include "hotkeys/HotKeyCenter.h"
#include "x11/X11HotKeys.h"

#include <QSignalSpy>
#include <QTest>

#include <X11/keysym.h>

using namespace carbon;

namespace {

constexpr OSType kSignature = makeFourCharCode("GlHk");

// A second X client: it types through XTest and grabs keys the way another application would.
using OtherClient = glimra::test::XClient;

class HotKeys : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(reached) << "needs an X display";
        ASSERT_TRUE(keyboard.ok());
    }

    OSStatus add(UInt32 keyCode, UInt32 modifiers, UInt32 id) {
        return RegisterEventHotKey(keyCode, modifiers, {kSignature, id}, center.target(), 0, nullptr);
    }

    std::unique_ptr<glimra::x11::X11HotKeys> grabs = glimra::x11::X11HotKeys::make();
    const bool reached = grabs != nullptr;
    HotKeyCenter center{std::move(grabs)};
    OtherClient keyboard;
    glimra::test::HotKeyRecorder seen{center.target()};
};

TEST_F(HotKeys, NewKeyboardLayoutKeepsThePhysicalKeyAndRenamesIt) {
    // The US keyboard's Q gives A on a French one, whose Q lies elsewhere: the hot key stays on the key.
    ASSERT_EQ(add(kVK_ANSI_Q, cmdKey | shiftKey, 7), noErr);
    const xcb_keycode_t usQ = keyboard.keycode(XK_q);
    QSignalSpy applied(&center, &HotKeyCenter::keyboardMappingApplied);
    glimra::test::XkbLayout french(glimra::test::kKeyboardLayouts[2]);
    ASSERT_TRUE(french.ok());
    ASSERT_TRUE(applied.wait(5000));
    QTest::qWait(200); // a change arrives as several notifications
    EXPECT_EQ(glimra::hotkeys::describeHotKey(kVK_ANSI_Q, cmdKey | shiftKey, center.layout()),
              "Ctrl+Shift+A");

    OtherClient typist;
    ASSERT_NE(typist.keycode(XK_q), usQ);
    typist.type({XK_Control_L, XK_Shift_L}, XK_q);
    typist.typeCode({XK_Control_L, XK_Shift_L}, usQ - 8u); // by its evdev code
    EXPECT_EQ(seen.after(2), " pressed 7 released 7");
}

// The desktop's mouse reaches a monitor handler although another client has grabbed the pointer, and
// stops reaching it once the handler is removed.
TEST(MouseMonitor, SeesThePointerDuringAnotherClientsGrab) {
    OtherClient other;
    ASSERT_TRUE(other.ok());
    ASSERT_TRUE(other.grabPointer());
    std::vector<UInt32> seen;
    const auto record = [](EventHandlerCallRef next, EventRef event, void* userData) -> OSStatus {
        EXPECT_EQ(GetEventClass(event), kEventClassMouse);
        static_cast<std::vector<UInt32>*>(userData)->push_back(GetEventKind(event));
        return CallNextEventHandler(next, event);
    };
    const EventTypeSpec kinds[] = {{kEventClassMouse, kEventMouseDown},
                                   {kEventClassMouse, kEventMouseUp},
                                   {kEventClassMouse, kEventMouseMoved},
                                   {kEventClassMouse, kEventMouseDragged}};
    EventHandlerRef handler = nullptr;
    ASSERT_EQ(InstallEventHandler(GetEventMonitorTarget(), record, GetEventTypeCount(kinds), kinds, &seen,
                                  &handler),
              noErr);
    QTest::qWait(100); // the selection reaches the server

    const std::pair<uint8_t, UInt32> steps[] = {{XCB_MOTION_NOTIFY, kEventMouseMoved},
                                                {XCB_BUTTON_PRESS, kEventMouseDown},
                                                {XCB_MOTION_NOTIFY, kEventMouseDragged},
                                                {XCB_BUTTON_RELEASE, kEventMouseUp}};
    for (const auto& [type, kind] : steps) {
        other.pointer(type, type == XCB_MOTION_NOTIFY ? 0 : 1, 300 + int(seen.size()), 200);
        EXPECT_TRUE(QTest::qWaitFor([&, kind = kind] { return !seen.empty() && seen.back() == kind; }, 5000))
            << "kind " << kind;
    }

    ASSERT_EQ(RemoveEventHandler(handler), noErr);
    const size_t count = seen.size();
    other.pointer(XCB_MOTION_NOTIFY, 0, 500, 500);
    QTest::qWait(250);
    EXPECT_EQ(seen.size(), count);
}

} // namespace
