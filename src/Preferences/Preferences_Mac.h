#pragma once
// Preference keys shared by the main application and the helper.

// The helper's own settings.
inline constexpr const char kStartHelperAtLoginPrefsKey[] = "StartHelperAtLogin";
inline constexpr const char kTimedScreenSnapDelaySecondsPrefsKey[] = "TimedScreenSnapDelaySeconds";

// Kept by the main application; the helper keeps its keep-running state in memory only.
inline constexpr const char kKeepHelperRunningInBackgroundPrefsKey[] = "KeepHelperRunningInBackground";
inline constexpr const char kHasAskedToKeepHelperRunningInBackgroundPrefsKey[] =
    "HasAskedToKeepHelperRunningInBackground";
