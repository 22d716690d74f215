#pragma once
// GNOME (before 48) holds no shortcut for another program: the user binds commands to combinations in
// its keyboard settings, as custom shortcuts. This writes the gsettings lines that bind the helper's
// commands so, for the user to read and run.

#include "hotkeys/HotKeyNames.h"

#include <QString>

#include <vector>

namespace glimra::wayland {

// A shell script of gsettings lines that adds each command to GNOME's custom shortcuts as
// `gapplication action APPLICATION NAME` under its combination, keeping the custom shortcuts already
// there; running it again replaces these and nothing else. Printing it changes nothing.
QString gnomeShortcutCommands(const std::vector<hotkeys::HotKeyCommand>& commands,
                              const QString& applicationId);

} // namespace glimra::wayland
