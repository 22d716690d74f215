#pragma once
// NSLog: one line per call on stderr and in the system log (journald picks syslog up).
// There are no levels and no log file, on purpose: the helper's log lines are few and fixed.

#include "ObjCFormat.h"

namespace glimra {
void writeLogLine(const QString& line);
} // namespace glimra

template <typename... Args> void NSLog(std::string_view format, Args&&... args) {
    glimra::writeLogLine(glimra::stringWithFormat(format, std::forward<Args>(args)...));
}
