#pragma once
// The few Carbon Event Manager calls the helper needs for system-wide hot keys and for following the
// mouse over other applications, over what the desktop offers for them (Desktop.h).
//
// Hot keys are held by the desktop's backend (HotKeyBackend.h: X11's key grabs, sway's bindings, the
// portal's global shortcuts). Handlers run on the Qt main thread from its event loop, one call per
// event, most recently installed first. On the application target their return status is ignored:
// every installed handler whose type list matches sees the event. On the event monitor target (mouse
// events of the whole desktop, MouseEventMonitor.h) events travel Carbon's chain: a handler that
// returns anything but eventNotHandledErr ends the event's way, and CallNextEventHandler hands it on
// explicitly.
//
// Modifiers follow Qt's macOS convention: Command is Ctrl, Control is Super, Option is Alt. Virtual key
// codes name physical keys by the character they carry on a US keyboard; they are found by their place
// in the current keymap, the same key whatever the layout, and grabbed again whenever that keymap
// changes.

#include <cstddef>
#include <cstdint>

namespace carbon {

using OSStatus = int32_t;
using UInt32 = uint32_t;
using OptionBits = uint32_t;
using ItemCount = unsigned long;
using ByteCount = size_t;
using FourCharCode = uint32_t;
using OSType = FourCharCode;
using EventParamName = OSType;
using EventParamType = OSType;

// 'abcd' literals draw -Wmultichar from GCC; this spells the same value without the warning.
constexpr FourCharCode makeFourCharCode(const char (&code)[5]) {
    return (FourCharCode(uint8_t(code[0])) << 24) | (FourCharCode(uint8_t(code[1])) << 16) |
           (FourCharCode(uint8_t(code[2])) << 8) | FourCharCode(uint8_t(code[3]));
}

constexpr OSStatus noErr = 0;
constexpr OSStatus paramErr = -50;
constexpr OSStatus errAECoercionFail = -1700;
constexpr OSStatus eventInternalErr = -9868;
constexpr OSStatus eventParameterNotFoundErr = -9870;
constexpr OSStatus eventNotHandledErr = -9874;
constexpr OSStatus eventHotKeyExistsErr = -9878;
constexpr OSStatus eventHotKeyInvalidErr = -9879;

struct EventHotKeyID {
    OSType signature;
    UInt32 id;
};

struct EventTypeSpec {
    OSType eventClass;
    UInt32 eventKind;
};

constexpr OSType kEventClassKeyboard = makeFourCharCode("keyb");
constexpr UInt32 kEventHotKeyPressed = 5;
constexpr UInt32 kEventHotKeyReleased = 6;

constexpr OSType kEventClassMouse = makeFourCharCode("mous");
constexpr UInt32 kEventMouseDown = 1;
constexpr UInt32 kEventMouseUp = 2;
constexpr UInt32 kEventMouseMoved = 5;
constexpr UInt32 kEventMouseDragged = 6;

constexpr EventParamName kEventParamDirectObject = makeFourCharCode("----");
constexpr EventParamType typeEventHotKeyID = makeFourCharCode("hkid");
constexpr EventParamType typeWildCard = makeFourCharCode("****");

constexpr OptionBits kEventHotKeyNoOptions = 0;
constexpr OptionBits kEventHotKeyExclusive = 1 << 0;

// Modifier masks.
constexpr UInt32 cmdKey = 0x100;
constexpr UInt32 shiftKey = 0x200;
constexpr UInt32 alphaLock = 0x400;
constexpr UInt32 optionKey = 0x800;
constexpr UInt32 controlKey = 0x1000;

// Virtual key codes: the key at that place on a US keyboard.
enum : UInt32 {
    kVK_ANSI_A = 0x00,
    kVK_ANSI_S = 0x01,
    kVK_ANSI_D = 0x02,
    kVK_ANSI_F = 0x03,
    kVK_ANSI_H = 0x04,
    kVK_ANSI_G = 0x05,
    kVK_ANSI_Z = 0x06,
    kVK_ANSI_X = 0x07,
    kVK_ANSI_C = 0x08,
    kVK_ANSI_V = 0x09,
    kVK_ANSI_B = 0x0B,
    kVK_ANSI_Q = 0x0C,
    kVK_ANSI_W = 0x0D,
    kVK_ANSI_E = 0x0E,
    kVK_ANSI_R = 0x0F,
    kVK_ANSI_Y = 0x10,
    kVK_ANSI_T = 0x11,
    kVK_ANSI_1 = 0x12,
    kVK_ANSI_2 = 0x13,
    kVK_ANSI_3 = 0x14,
    kVK_ANSI_4 = 0x15,
    kVK_ANSI_6 = 0x16,
    kVK_ANSI_5 = 0x17,
    kVK_ANSI_Equal = 0x18,
    kVK_ANSI_9 = 0x19,
    kVK_ANSI_7 = 0x1A,
    kVK_ANSI_Minus = 0x1B,
    kVK_ANSI_8 = 0x1C,
    kVK_ANSI_0 = 0x1D,
    kVK_ANSI_RightBracket = 0x1E,
    kVK_ANSI_O = 0x1F,
    kVK_ANSI_U = 0x20,
    kVK_ANSI_LeftBracket = 0x21,
    kVK_ANSI_I = 0x22,
    kVK_ANSI_P = 0x23,
    kVK_Return = 0x24,
    kVK_ANSI_L = 0x25,
    kVK_ANSI_J = 0x26,
    kVK_ANSI_Quote = 0x27,
    kVK_ANSI_K = 0x28,
    kVK_ANSI_Semicolon = 0x29,
    kVK_ANSI_Backslash = 0x2A,
    kVK_ANSI_Comma = 0x2B,
    kVK_ANSI_Slash = 0x2C,
    kVK_ANSI_N = 0x2D,
    kVK_ANSI_M = 0x2E,
    kVK_ANSI_Period = 0x2F,
    kVK_Tab = 0x30,
    kVK_Space = 0x31,
    kVK_ANSI_Grave = 0x32,
    kVK_Delete = 0x33,
    kVK_Escape = 0x35,
    kVK_F5 = 0x60,
    kVK_F6 = 0x61,
    kVK_F7 = 0x62,
    kVK_F3 = 0x63,
    kVK_F8 = 0x64,
    kVK_F9 = 0x65,
    kVK_F11 = 0x67,
    kVK_F10 = 0x6D,
    kVK_F12 = 0x6F,
    kVK_F4 = 0x76,
    kVK_F2 = 0x78,
    kVK_F1 = 0x7A,
};

struct OpaqueEventTargetRef;
struct OpaqueEventHandlerRef;
struct OpaqueEventHandlerCallRef;
struct OpaqueEventRef;
struct OpaqueEventHotKeyRef;
using EventTargetRef = OpaqueEventTargetRef*;
using EventHandlerRef = OpaqueEventHandlerRef*;
using EventHandlerCallRef = OpaqueEventHandlerCallRef*;
using EventRef = OpaqueEventRef*;
using EventHotKeyRef = OpaqueEventHotKeyRef*;

using EventHandlerProcPtr = OSStatus (*)(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                                         void* inUserData);
using EventHandlerUPP = EventHandlerProcPtr;

inline EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr proc) {
    return proc;
}
inline void DisposeEventHandlerUPP(EventHandlerUPP) {}

template <std::size_t N> constexpr ItemCount GetEventTypeCount(const EventTypeSpec (&)[N]) {
    return N;
}

// The application's target lives until the QCoreApplication is destroyed. It needs one.
EventTargetRef GetApplicationEventTarget();
// The mouse of the whole desktop, whichever application it is over; the same lifetime. Installing a
// handler on it fails with eventInternalErr where the desktop cannot report that.
EventTargetRef GetEventMonitorTarget();

OSStatus InstallEventHandler(EventTargetRef inTarget, EventHandlerUPP inHandler, ItemCount inNumTypes,
                             const EventTypeSpec* inList, void* inUserData, EventHandlerRef* outRef);
OSStatus RemoveEventHandler(EventHandlerRef inHandlerRef);
// Hands the event to the handlers after the caller's; eventNotHandledErr when none takes it.
OSStatus CallNextEventHandler(EventHandlerCallRef inHandlerCallRef, EventRef inEvent);

// Status eventHotKeyExistsErr when this or another program already holds the combination (nothing
// of it stays held then); eventHotKeyInvalidErr for a key code or modifier without a counterpart on
// the desktop; eventInternalErr when the desktop takes no hot keys.
OSStatus RegisterEventHotKey(UInt32 inHotKeyCode, UInt32 inHotKeyModifiers, EventHotKeyID inHotKeyID,
                             EventTargetRef inTarget, OptionBits inOptions, EventHotKeyRef* outRef);
OSStatus UnregisterEventHotKey(EventHotKeyRef inHotKey);

OSStatus GetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inDesiredType,
                           EventParamType* outActualType, ByteCount inBufferSize, ByteCount* outActualSize,
                           void* outData);
OSType GetEventClass(EventRef inEvent);
UInt32 GetEventKind(EventRef inEvent);

} // namespace carbon
