#pragma once
// The keyboard bindings a sway configuration makes, read from its text as sway's IPC hands it out
// (get_config gives the main file as sway read it at start or at its last reload). sway's IPC lists
// no bindings, so this is how a program tells which combinations the user has taken for themselves.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace glimra::wayland {

// A key combination as sway compares them: modifier bits (xkb's order: Shift 1, Lock 2, Control 4,
// Mod1 8, Mod2 16, Mod3 32, Mod4 64, Mod5 128) and key names, lower case and sorted (sway reads keysym
// names without regard to case), or for `bindcode` key codes.
struct SwayKeys {
    uint32_t modifiers = 0;
    QStringList keys;
    bool byCode = false;
    bool operator==(const SwayKeys&) const = default;
};

// "Mod4+Ctrl+Shift+5" (any order, any case), with byCode "Mod4+Ctrl+Shift+14"; nothing for an empty text
// or one without a key.
std::optional<SwayKeys> parseSwayKeys(const QString& combination, bool byCode = false);

// Reads the files an `include` line names, its argument given after the configuration's variables are
// put in; one text per file.
using SwayIncludeReader = std::function<QStringList(const QString& argument)>;

// The combinations `bindsym` and `bindcode` bind in the default mode (at the top level, in `mode
// "default"` and in `bindsym { ... }` blocks; with any flags), after `set $variable` substitution and
// with included files read through readIncludes. Other modes and `bar` bindings are left out; a
// `bindsym --to-code` counts as the symbol it names.
std::vector<SwayKeys> swayConfigBindings(const QString& config, const SwayIncludeReader& readIncludes);

// The files an `include` argument names as sway finds them: `~`, environment variables and wildcards
// expanded, a relative path taken from the folder of the configuration file sway reads by default.
QStringList readSwayIncludes(const QString& argument);

} // namespace glimra::wayland
