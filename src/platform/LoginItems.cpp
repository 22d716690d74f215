#include "LoginItems.h"

#include "Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
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

QString desktopEntryExecArgument(const QString& path) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString argument;
    bool quote = false;
    for (const QChar c : path) {
        quote = quote || reserved.contains(c);
        // Inside quotes a backslash escapes these four; '%' starts a field code anywhere.
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            argument += u'\\';
        else if (c == u'%')
            argument += u'%';
        argument += c;
    }
    if (quote)
        argument = u'"' + argument + u'"';
    // The value itself is a string with escapes of its own: each backslash is written twice.
    return argument.replace(u'\\', QStringLiteral("\\\\"));
}

bool writeAutostartEntry(const QString& path, const QString& name, const QString& executable) {
    if (executable.contains(u'\n') || name.contains(u'\n')) {
        NSLog("Cannot write the login item %@: a line break in %@", path, executable);
        return false;
    }
    QDir().mkpath(QFileInfo(path).path());
    // Written beside its place and renamed into it, so a session starting meanwhile reads a whole entry.
    QSaveFile file(path);
    const QString entry =
        QStringLiteral(
            "[Desktop Entry]\nType=Application\nName=%1\nExec=%2\nNoDisplay=true\nTerminal=false\n")
            .arg(name, desktopEntryExecArgument(executable));
    if (!file.open(QIODevice::WriteOnly) || file.write(entry.toUtf8()) < 0 || !file.commit()) {
        NSLog("Cannot write the login item %@: %@", path, file.errorString());
        return false;
    }
    return true;
}

bool removeAutostartEntry(const QString& path) {
    QFile file(path);
    if (!file.exists() || file.remove())
        return true;
    NSLog("Cannot remove the login item %@: %@", path, file.errorString());
    return false;
}

} // namespace glimra
