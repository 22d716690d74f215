// Drives the hot keys with XTest key events on the session's X server.

#include "XTestKit.h"
#include "hotkeys/CarbonEvents.h"
#include "hotkeys/HotKeyCenter.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

using namespace carbon;

namespace {

constexpr OSType kSignature = makeFourCharCode("GlHk");
constexpr uint16_t kCtrlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;

template <typename T> std::unique_ptr<T, decltype(&std::free)> owned(T* p) {
    return {p, &std::free};
}

// A second X client: it types through XTest and grabs keys the way another application would.
using OtherClient = glimra::test::XClient;

struct Seen {
    UInt32 kind;
    EventHotKeyID id;
};

OSStatus recordEvent(EventHandlerCallRef, EventRef event, void* userData) {
    EventHotKeyID id{};
    const OSStatus status = GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, nullptr,
                                              sizeof id, nullptr, &id);
    EXPECT_EQ(status, noErr);
    EXPECT_EQ(GetEventClass(event), kEventClassKeyboard);
    static_cast<std::vector<Seen>*>(userData)->push_back({GetEventKind(event), id});
    return noErr;
}

std::string describe(const std::vector<Seen>& seen) {
    std::string text;
    for (const Seen& event : seen)
        text +=
            (event.kind == kEventHotKeyPressed ? " pressed " : " released ") + std::to_string(event.id.id);
    return text.empty() ? " nothing" : text;
}

class HotKeys : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(center.hasDisplay()) << "needs an X display";
        ASSERT_TRUE(keyboard.ok());
        const EventTypeSpec kinds[] = {{kEventClassKeyboard, kEventHotKeyPressed},
                                       {kEventClassKeyboard, kEventHotKeyReleased}};
        ASSERT_EQ(InstallEventHandler(center.target(), NewEventHandlerUPP(recordEvent),
                                      GetEventTypeCount(kinds), kinds, &seen, nullptr),
                  noErr);
    }

    OSStatus add(UInt32 keyCode, UInt32 modifiers, UInt32 id, EventHotKeyRef* ref = nullptr,
                 OSType signature = kSignature) {
        return RegisterEventHotKey(keyCode, modifiers, {signature, id}, center.target(), 0, ref);
    }

    // Waits for the count of events, then a little longer so that extra ones would show.
    std::string eventsAfterWaitingFor(size_t count) {
        (void)QTest::qWaitFor([&] { return seen.size() >= count; }, 5000);
        QTest::qWait(250);
        return describe(seen);
    }

    HotKeyCenter center;
    OtherClient keyboard;
    std::vector<Seen> seen;
};

TEST_F(HotKeys, HeldKeyFiresPressOnceAndReleaseWhenTheKeyComesUp) {
    ASSERT_EQ(add(kVK_ANSI_6, cmdKey | shiftKey, 3), noErr);

    keyboard.down(XK_Control_L);
    keyboard.down(XK_Shift_L);
    keyboard.down(XK_6);
    EXPECT_EQ(eventsAfterWaitingFor(1), " pressed 3");
    keyboard.up(XK_Shift_L);
    keyboard.up(XK_Control_L);
    EXPECT_EQ(eventsAfterWaitingFor(1), " pressed 3");
    keyboard.up(XK_6);
    EXPECT_EQ(eventsAfterWaitingFor(2), " pressed 3 released 3");

    // Other modifiers, or none, are not this hot key.
    keyboard.type({XK_Control_L}, XK_6);
    keyboard.type({XK_Control_L, XK_Shift_L, XK_Alt_L}, XK_6);
    keyboard.type({}, XK_6);
    EXPECT_EQ(eventsAfterWaitingFor(2), " pressed 3 released 3");
}

TEST_F(HotKeys, AutoRepeatFiresOnce) {
    ASSERT_EQ(add(kVK_ANSI_6, cmdKey | shiftKey, 3), noErr);
    EXPECT_TRUE(center.hasDetectableAutoRepeat());

    ASSERT_EQ(QProcess::execute("xset", {"r", "on"}), 0);
    ASSERT_EQ(QProcess::execute("xset", {"r", "rate", "100", "50"}), 0);
    keyboard.down(XK_Control_L);
    keyboard.down(XK_Shift_L);
    keyboard.down(XK_6);
    QTest::qWait(600); // about 25 repeats
    // And presses the way a repeating keyboard without XKB sends them.
    keyboard.down(XK_6);
    keyboard.down(XK_6);
    keyboard.up(XK_6);
    keyboard.up(XK_Shift_L);
    keyboard.up(XK_Control_L);
    QProcess::execute("xset", {"r", "rate", "660", "25"});
    EXPECT_EQ(eventsAfterWaitingFor(2), " pressed 3 released 3");
}

TEST_F(HotKeys, CapsLockAndNumLockDoNotMatter) {
    ASSERT_EQ(add(kVK_ANSI_6, cmdKey | shiftKey, 3), noErr);
    const xcb_keycode_t six = keyboard.keycode(XK_6);
    auto lockOn = [&](xcb_keysym_t lock, uint16_t mask) {
        if (!(keyboard.modifierState() & mask))
            keyboard.tap(lock);
    };
    auto lockOff = [&](xcb_keysym_t lock, uint16_t mask) {
        if (keyboard.modifierState() & mask)
            keyboard.tap(lock);
    };
    constexpr uint16_t kNumLockMask = XCB_MOD_MASK_2; // where the test server's map puts Num_Lock

    lockOn(XK_Caps_Lock, XCB_MOD_MASK_LOCK);
    ASSERT_TRUE(keyboard.modifierState() & XCB_MOD_MASK_LOCK);
    keyboard.typeCode({XK_Control_L, XK_Shift_L}, six);
    EXPECT_EQ(eventsAfterWaitingFor(2), " pressed 3 released 3");

    lockOn(XK_Num_Lock, kNumLockMask);
    ASSERT_TRUE(keyboard.modifierState() & kNumLockMask);
    keyboard.typeCode({XK_Control_L, XK_Shift_L}, six);
    EXPECT_EQ(eventsAfterWaitingFor(4), " pressed 3 released 3 pressed 3 released 3");

    lockOff(XK_Caps_Lock, XCB_MOD_MASK_LOCK);
    keyboard.typeCode({XK_Control_L, XK_Shift_L}, six);
    lockOff(XK_Num_Lock, kNumLockMask);
    EXPECT_EQ(eventsAfterWaitingFor(6), " pressed 3 released 3 pressed 3 released 3 pressed 3 released 3");
    EXPECT_EQ(keyboard.modifierState() & (XCB_MOD_MASK_LOCK | kNumLockMask), 0);
}

TEST_F(HotKeys, CombinationHeldByAnotherClientFailsAndLeavesNothingGrabbed) {
    OtherClient other;
    const xcb_keycode_t five = keyboard.keycode(XK_5);
    // Only the last lock variant is taken, so the ones before it succeed and must be let go again.
    ASSERT_TRUE(other.grab(five, kCtrlShift | XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2));

    EventHotKeyRef ref = nullptr;
    EXPECT_EQ(add(kVK_ANSI_5, cmdKey | shiftKey, 1, &ref), eventHotKeyExistsErr);
    EXPECT_EQ(ref, nullptr);
    OtherClient probe;
    EXPECT_TRUE(probe.canGrab(five, kCtrlShift));
    EXPECT_TRUE(probe.canGrab(five, kCtrlShift | XCB_MOD_MASK_LOCK));
    EXPECT_TRUE(probe.canGrab(five, kCtrlShift | XCB_MOD_MASK_2));

    ASSERT_EQ(add(kVK_ANSI_5, cmdKey | shiftKey | optionKey, 2), noErr);
    ASSERT_EQ(add(kVK_ANSI_6, cmdKey | shiftKey, 3), noErr);
    keyboard.typeCode({XK_Control_L, XK_Shift_L}, five);
    keyboard.typeCode({XK_Control_L, XK_Shift_L, XK_Alt_L}, five);
    keyboard.type({XK_Control_L, XK_Shift_L}, XK_6);
    EXPECT_EQ(eventsAfterWaitingFor(4), " pressed 2 released 2 pressed 3 released 3");
}

TEST_F(HotKeys, RegistrationsAreTrackedAndUnregisteringLetsGo) {
    const xcb_keycode_t six = keyboard.keycode(XK_6);
    EventHotKeyRef ref = nullptr;
    ASSERT_EQ(add(kVK_ANSI_6, cmdKey | shiftKey, 3, &ref), noErr);
    EXPECT_EQ(add(kVK_ANSI_6, cmdKey | shiftKey, 9), eventHotKeyExistsErr);
    OtherClient probe;
    EXPECT_FALSE(probe.canGrab(six, kCtrlShift));

    keyboard.down(XK_Control_L);
    keyboard.down(XK_Shift_L);
    keyboard.down(XK_6);
    EXPECT_EQ(eventsAfterWaitingFor(1), " pressed 3");
    // Unregistered while held: no release follows.
    EXPECT_EQ(UnregisterEventHotKey(ref), noErr);
    keyboard.up(XK_6);
    keyboard.up(XK_Shift_L);
    keyboard.up(XK_Control_L);
    EXPECT_EQ(eventsAfterWaitingFor(1), " pressed 3");
    EXPECT_EQ(UnregisterEventHotKey(ref), paramErr);
    EXPECT_TRUE(probe.canGrab(six, kCtrlShift));
    EXPECT_TRUE(probe.canGrab(six, kCtrlShift | XCB_MOD_MASK_LOCK));

    ASSERT_EQ(add(kVK_ANSI_6, cmdKey | shiftKey, 4), noErr);
    keyboard.typeCode({XK_Control_L, XK_Shift_L}, six);
    EXPECT_EQ(eventsAfterWaitingFor(3), " pressed 3 pressed 4 released 4");
}

TEST_F(HotKeys, ForeignSignaturesAndIdsPassThroughUntouched) {
    ASSERT_EQ(add(kVK_ANSI_6, cmdKey | shiftKey, 77, nullptr, makeFourCharCode("Xyzw")), noErr);
    ASSERT_EQ(add(kVK_ANSI_1, cmdKey | shiftKey | optionKey, 0xFFFFFFFF), noErr);
    keyboard.type({XK_Control_L, XK_Shift_L}, XK_6);
    keyboard.type({XK_Control_L, XK_Shift_L, XK_Alt_L}, XK_1);
    ASSERT_EQ(eventsAfterWaitingFor(4), " pressed 77 released 77 pressed 4294967295 released 4294967295");
    EXPECT_EQ(seen[1].id.signature, makeFourCharCode("Xyzw"));
    EXPECT_EQ(seen[3].id.signature, kSignature);
}

// Moves the 6 to a key that had no symbols and takes it off its own key for as long as it lives.
class MovedSix {
public:
    explicit MovedSix(OtherClient& client) : m_client(client) {
        xcb_connection_t* c = client.connection();
        const xcb_setup_t* setup = xcb_get_setup(c);
        m_first = setup->min_keycode;
        const int count = setup->max_keycode - setup->min_keycode + 1;
        auto map =
            owned(xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, m_first, count), nullptr));
        if (!map)
            return;
        m_perKeycode = map->keysyms_per_keycode;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
        m_original.assign(syms, syms + count * m_perKeycode);
        m_six = client.keycode(XK_6);
        for (int code = setup->max_keycode; code >= m_first && !m_spare; --code) {
            const xcb_keysym_t* row = syms + (code - m_first) * m_perKeycode;
            if (std::all_of(row, row + m_perKeycode, [](xcb_keysym_t s) { return s == XCB_NO_SYMBOL; }))
                m_spare = xcb_keycode_t(code);
        }
        if (!m_six || !m_spare)
            return;
        std::vector<xcb_keysym_t> six(row(m_six), row(m_six) + m_perKeycode);
        set(m_spare, six);
        set(m_six, std::vector<xcb_keysym_t>(m_perKeycode, XCB_NO_SYMBOL));
    }
    ~MovedSix() {
        if (m_six && m_spare) {
            set(m_six, std::vector<xcb_keysym_t>(row(m_six), row(m_six) + m_perKeycode));
            set(m_spare, std::vector<xcb_keysym_t>(m_perKeycode, XCB_NO_SYMBOL));
        }
    }
    MovedSix(const MovedSix&) = delete;
    MovedSix& operator=(const MovedSix&) = delete;

    xcb_keycode_t oldKey() const { return m_six; }
    xcb_keycode_t newKey() const { return m_spare; }

private:
    const xcb_keysym_t* row(xcb_keycode_t code) const {
        return m_original.data() + (code - m_first) * m_perKeycode;
    }
    void set(xcb_keycode_t code, const std::vector<xcb_keysym_t>& keysyms) {
        auto error = owned(xcb_request_check(
            m_client.connection(), xcb_change_keyboard_mapping_checked(m_client.connection(), 1, code,
                                                                       m_perKeycode, keysyms.data())));
        EXPECT_FALSE(error) << "ChangeKeyboardMapping failed with error " << int(error->error_code);
    }

    OtherClient& m_client;
    xcb_keycode_t m_first = 0;
    uint8_t m_perKeycode = 0;
    std::vector<xcb_keysym_t> m_original;
    xcb_keycode_t m_six = 0;
    xcb_keycode_t m_spare = 0;
};

TEST_F(HotKeys, KeyboardMappingChangeMovesTheGrabs) {
    ASSERT_EQ(add(kVK_ANSI_6, cmdKey | shiftKey, 3), noErr);
    QSignalSpy applied(&center, &HotKeyCenter::keyboardMappingApplied);
    {
        MovedSix moved(keyboard);
        ASSERT_TRUE(moved.oldKey() && moved.newKey()) << "no spare key code on this server";
        ASSERT_TRUE(applied.wait(5000));
        QTest::qWait(200); // a change arrives as several notifications

        OtherClient probe;
        EXPECT_TRUE(probe.canGrab(moved.oldKey(), kCtrlShift));
        EXPECT_FALSE(probe.canGrab(moved.newKey(), kCtrlShift));
        keyboard.typeCode({XK_Control_L, XK_Shift_L}, moved.oldKey());
        keyboard.typeCode({XK_Control_L, XK_Shift_L}, moved.newKey());
        EXPECT_EQ(eventsAfterWaitingFor(2), " pressed 3 released 3");
        applied.clear();
    }
    ASSERT_TRUE(applied.count() > 0 || applied.wait(5000));
    QTest::qWait(200);
    keyboard.type({XK_Control_L, XK_Shift_L}, XK_6);
    EXPECT_EQ(eventsAfterWaitingFor(4), " pressed 3 released 3 pressed 3 released 3");
}

TEST_F(HotKeys, NewKeyboardLayoutMovesTheGrabs) {
    // Q sits where A is on a French keyboard: the hot key follows the character, as keysyms do.
    ASSERT_EQ(add(kVK_ANSI_Q, cmdKey | shiftKey, 7), noErr);
    const xcb_keycode_t usQ = keyboard.keycode(XK_q);
    QSignalSpy applied(&center, &HotKeyCenter::keyboardMappingApplied);
    struct Layout {
        ~Layout() { QProcess::execute("setxkbmap", {"-layout", "us"}); }
    } restoreUs;
    ASSERT_EQ(QProcess::execute("setxkbmap", {"-layout", "fr"}), 0);
    ASSERT_TRUE(applied.wait(5000));
    QTest::qWait(200);

    OtherClient french;
    ASSERT_NE(french.keycode(XK_q), usQ);
    french.type({XK_Control_L, XK_Shift_L}, XK_q);
    french.typeCode({XK_Control_L, XK_Shift_L}, usQ);
    EXPECT_EQ(eventsAfterWaitingFor(2), " pressed 7 released 7");
}

// The five combinations the helper registers, on the application's own target.
TEST(ApplicationHotKeys, TheHelpersCombinationsRegisterAndFireOnRelease) {
    OtherClient keyboard;
    ASSERT_TRUE(keyboard.ok());
    std::vector<Seen> seen;
    const EventTypeSpec released{kEventClassKeyboard, kEventHotKeyReleased};
    EventHandlerRef handler = nullptr;
    ASSERT_EQ(InstallEventHandler(GetApplicationEventTarget(), recordEvent, 1, &released, &seen, &handler),
              noErr);

    struct Row {
        UInt32 keyCode, modifiers, id;
    };
    const Row table[] = {{23, 0x300, 1}, {23, 0xB00, 2}, {23, 0x1300, 5}, {22, 0x300, 3}, {18, 0xB00, 4}};
    std::vector<EventHotKeyRef> refs;
    for (const Row& row : table) {
        EventHotKeyRef ref = nullptr;
        EXPECT_EQ(RegisterEventHotKey(row.keyCode, row.modifiers, {kSignature, row.id},
                                      GetApplicationEventTarget(), 0, &ref),
                  noErr)
            << "id " << row.id;
        refs.push_back(ref);
    }

    keyboard.type({XK_Control_L, XK_Shift_L, XK_Super_L}, XK_5);
    keyboard.type({XK_Control_L, XK_Shift_L}, XK_5);
    keyboard.type({XK_Control_L, XK_Shift_L, XK_Alt_L}, XK_1);
    (void)QTest::qWaitFor([&] { return seen.size() >= 3; }, 5000);
    QTest::qWait(150);
    EXPECT_EQ(describe(seen), " released 5 released 1 released 4");

    for (EventHotKeyRef ref : refs)
        EXPECT_EQ(UnregisterEventHotKey(ref), noErr);
    EXPECT_EQ(RemoveEventHandler(handler), noErr);
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
