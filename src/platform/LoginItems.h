#pragma once
// The login item of a program is its XDG autostart entry: enabled when the entry exists and is not
// Hidden=true.

#include <QString>

namespace glimra {

// $XDG_CONFIG_HOME/autostart/IDENTIFIER.desktop
QString autostartEntryPath(const QString& bundleIdentifier);
bool isAutostartEntryEnabled(const QString& path);

} // namespace glimra
