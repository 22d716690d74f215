#include "wayland/GnomeShortcuts.h"

#include <QRegularExpression>
#include <QStringList>

namespace glimra::wayland {

namespace {

// A string as GVariant's text form writes it, which gsettings reads.
QString gvariantString(QString text) {
    text.replace(u'\\', QLatin1String("\\\\")).replace(u'\'', QLatin1String("\\'"));
    return u'\'' + text + u'\'';
}

// For the shell; in double quotes where nothing in it is special there, as GVariant's quotes read best.
QString shellQuoted(QString text) {
    if (!text.contains(QRegularExpression(QStringLiteral("[\"$`\\\\!]"))))
        return u'"' + text + u'"';
    return u'\'' + text.replace(u'\'', QLatin1String("'\\''")) + u'\'';
}

} // namespace

QString gnomeShortcutCommands(const std::vector<hotkeys::HotKeyCommand>& commands,
                              const QString& applicationId) {
    const QString schema = QStringLiteral("org.gnome.settings-daemon.plugins.media-keys");
    const QString folder =
        QStringLiteral("/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/");
    QStringList paths;
    QString lines = QStringLiteral(
        "# Adds Glimra's five shortcuts to GNOME's custom shortcuts (Settings, Keyboard, View and Customise\n"
        "# Shortcuts, Custom Shortcuts), keeping the shortcuts already there; running it again changes "
        "nothing.\n");
    QString entries;
    for (const hotkeys::HotKeyCommand& command : commands) {
        const QString path = folder + QStringLiteral("glimra-") + command.action.name + u'/';
        paths << shellQuoted(gvariantString(path));
        const QString key = QStringLiteral("gsettings set %1.custom-keybinding:%2 ").arg(schema, path);
        entries +=
            key + QStringLiteral("name ") + shellQuoted(gvariantString(command.action.description)) + u'\n';
        entries += key + QStringLiteral("command ") +
                   shellQuoted(gvariantString(
                       QStringLiteral("gapplication action %1 %2").arg(applicationId, command.action.name))) +
                   u'\n';
        entries += key + QStringLiteral("binding ") +
                   shellQuoted(gvariantString(hotkeys::gnomeBinding(command.keyCode, command.modifiers))) +
                   u'\n';
    }
    // The list as it is, one entry a line, less any of these from an earlier run, and these after it.
    lines +=
        QStringLiteral("gsettings set %1 custom-keybindings \"[$( { gsettings get %1 custom-keybindings | "
                       "sed -e 's/^@as //' -e 's/[][]//g' -e 's/, /\\n/g' | grep -v -e '^$' -e '%2glimra-'; "
                       "printf '%s\\n' %3; } | paste -sd, -)]\"\n")
            .arg(schema, folder, paths.join(u' '));
    return lines + entries;
}

} // namespace glimra::wayland
