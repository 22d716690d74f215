#pragma once
// NSLog: one line per call on stderr and in the system log (journald picks syslog up).
// There are no levels and no log file, on purpose: the helper's log lines are few and fixed.

#include "ObjCFormat.h"

namespace glimra {
// One line, whatever the text holds: control characters are written escaped (a newline as \n), so no
// text can make a line of its own.
void writeLogLine(const QString& line);
// Anything another program sent (an action's name, a D-Bus error's text), fit for a log line: its control
// characters escaped and its length held to maxLength characters, the rest cut off with an ellipsis.
QString printable(const QString& peerText, qsizetype maxLength = 200);
// Qt's messages (its own and the helper's logging categories) into the same log, "category: message".
void logQtMessages();
} // namespace glimra

template <typename... Args> void NSLog(std::string_view format, Args&&... args) {
    glimra::writeLogLine(glimra::stringWithFormat(format, std::forward<Args>(args)...));
}
