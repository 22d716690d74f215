#pragma once
// The login item of a program is its XDG autostart entry: enabled when the entry exists and is not
// Hidden=true. The helper reads it; the main application writes and removes it.

#include <QString>

namespace glimra {

// $XDG_CONFIG_HOME/autostart/IDENTIFIER.desktop
QString autostartEntryPath(const QString& bundleIdentifier);
bool isAutostartEntryEnabled(const QString& path);

// Writes the entry at path that starts executable (no arguments) at login under the name shown in
// session settings; false, with a log line, when it cannot be written.
bool writeAutostartEntry(const QString& path, const QString& name, const QString& executable);
// Removes the entry; false, with a log line, when one stays.
bool removeAutostartEntry(const QString& path);

// path as one argument of an Exec line: quoted and escaped where the desktop entry rules ask for it.
QString desktopEntryExecArgument(const QString& path);

} // namespace glimra
