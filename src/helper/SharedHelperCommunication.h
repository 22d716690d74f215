#pragma once
// The protocol shared by the helper and the main application: message kinds, dictionary keys,
// distributed notification names and URL strings. Both programs compile from this one unit.

#include <cstdint>

// Dictionary keys.
inline constexpr const char kXPCMessageIdentifierKey[] = "id";                  // uint64, every message
inline constexpr const char kXPCBooleanKey[] = "bool";                          // bool
inline constexpr const char kXPCPNGDataKey[] = "PNGData";                       // data
inline constexpr const char kXPCWidthKey[] = "width";                           // uint64, points
inline constexpr const char kXPCHeightKey[] = "height";                         // uint64, points
inline constexpr const char kXPCTitleKey[] = "title";                           // string
inline constexpr const char kXPCBundleVersionKey[] = "bundleVersion";           // string
inline constexpr const char kXPCBundleShortVersionKey[] = "bundleShortVersion"; // string
inline constexpr const char kXPCBundlePathKey[] = "bundlePath";                 // string
inline constexpr const char kXPCIsTimedKey[] = "isTimed";                       // bool
inline constexpr const char kXPCDoubleKey[] = "double";                         // double
inline constexpr const char kXPCInt64Key[] = "int64";                           // int64

// Message kinds (the value under "id"). Each kind travels one way only.
enum XPCMessageKind : std::uint64_t {
    // main application -> helper
    kXPCMessageSetKeepHelperRunning = 2,
    kXPCMessageCrosshairSnapshot = 4,
    kXPCMessagePreviousAreaSnapshot = 5,
    kXPCMessageFullscreenSnapshot = 6,
    kXPCMessageAllScreenSnapshot = 7,
    kXPCMessageTerminateHelper = 10,
    kXPCMessageGetHelperVersion = 12,
    kXPCMessageSetStartHelperAtLogin = 13,
    kXPCMessageSetTimedSnapDelay = 14,
    kXPCMessageCanSnapPreviousArea = 15,
    // helper -> main application
    kXPCMessageRequestScreenSnap = 3,
    kXPCMessageScreenshot = 8,
    kXPCMessageTerminateMainApp = 9,
    kXPCMessageShowMainApp = 11,
};

// Distributed notification names.
inline constexpr const char kXPCHelperAppIsReadyNotification[] = "GlimraHelperAppIsReady";
// Posted by a helper that quits in good order, just before its name leaves the bus: a helper whose name
// leaves without it died (killed, crashed), and the main application may start it again.
inline constexpr const char kXPCHelperAppWillTerminateNotification[] = "GlimraHelperAppWillTerminate";
inline constexpr const char kHelperAppTerminateNotification[] = "GlimraHelperAppTerminate";

// URL and path strings.
inline constexpr const char kMainAppCustomURLSchemeString[] = "glimra:///";
inline constexpr const char kHelperAppCustomURLSchemeString[] = "glimrahelper:///";
inline constexpr const char kAppBundleLoginItemsPath[] = "Contents/Library/LoginItems";
