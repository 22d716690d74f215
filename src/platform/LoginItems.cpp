#include "LoginItems.h"

#include <QFile>
#include <QStandardPaths>
#include <QTextStream>

namespace glimra {

QString autostartEntryPath(const QString& bundleIdentifier) {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/") + bundleIdentifier + QStringLiteral(".desktop");
}

bool isAutostartEntryEnabled(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    // Desktop entries are not INI files (no escapes, case-sensitive keys): read the one key by hand,
    // in the [Desktop Entry] group only.
    QTextStream in(&file);
    bool inMainGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(u'[')) {
            inMainGroup = line == u"[Desktop Entry]";
            continue;
        }
        if (inMainGroup && line.startsWith(QStringLiteral("Hidden"))) {
            const qsizetype eq = line.indexOf(u'=');
            if (eq > 0 && line.left(eq).trimmed() == u"Hidden")
                return line.mid(eq + 1).trimmed() != u"true";
        }
    }
    return true;
}

} // namespace glimra
