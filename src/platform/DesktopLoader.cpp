#include "DesktopLoader.h"

#include "hotkeys/HotKeyBackend.h"
#include "null/NullDesktop.h"
#include "wayland/GnomeShortcuts.h"
#include "wayland/PortalHotKeys.h"
#include "wayland/SwayHotKeys.h"
#include "wayland/WaylandDesktop.h"
#include "x11/X11Desktop.h"
#include "x11/X11HotKeys.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QStringList>

Q_DECLARE_LOGGING_CATEGORY(lcHotKeys)

namespace glimra {

namespace {

std::unique_ptr<Desktop>& currentDesktop() {
    static std::unique_ptr<Desktop> desktop;
    return desktop;
}

wayland::Compositor sessionCompositor() {
    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    if (!qEnvironmentVariableIsEmpty("SWAYSOCK"))
        return wayland::Compositor::Sway;
    if (desktop.contains(QLatin1String("KDE")))
        return wayland::Compositor::KWin;
    if (desktop.contains(QLatin1String("GNOME")))
        return wayland::Compositor::Gnome;
    return wayland::Compositor::Other;
}

void forceHotKeysFromEnvironment(Desktop& desktop) {
    const QString road = qEnvironmentVariable("GLIMRA_HOTKEYS").toLower();
    if (road.isEmpty())
        return;
    if (road == QLatin1String("x11")) {
        desktop.forceHotKeys([] { return carbon::orNoHotKeys(x11::X11HotKeys::make()); });
    } else if (road == QLatin1String("sway")) {
        desktop.forceHotKeys([] { return carbon::orNoHotKeys(wayland::SwayHotKeys::make()); });
    } else if (road == QLatin1String("portal")) {
        desktop.forceHotKeys([] { return std::make_unique<wayland::PortalHotKeys>(); });
    } else {
        if (road != QLatin1String("none"))
            qCWarning(lcHotKeys,
                      "Hot keys are unavailable: GLIMRA_HOTKEYS=%s is none of x11, sway, portal, none",
                      qPrintable(road));
        desktop.forceHotKeys([] { return std::make_unique<carbon::NoHotKeys>(); });
    }
}

std::unique_ptr<Desktop> load(DisplayServer server, const QString& platform) {
    std::unique_ptr<Desktop> desktop;
    switch (server) {
    case DisplayServer::X11:
        desktop = std::make_unique<x11::X11Desktop>();
        break;
    case DisplayServer::Wayland:
        desktop = std::make_unique<wayland::WaylandDesktop>(sessionCompositor());
        break;
    case DisplayServer::Other:
        desktop = std::make_unique<null::NullDesktop>(platform);
        break;
    }
    forceHotKeysFromEnvironment(*desktop);
    return desktop;
}

} // namespace

Desktop& Desktop::current() {
    std::unique_ptr<Desktop>& desktop = currentDesktop();
    if (!desktop)
        desktop = loadDesktopForQtPlatform();
    return *desktop;
}

void Desktop::setCurrent(std::unique_ptr<Desktop> desktop) {
    currentDesktop() = std::move(desktop);
}

std::unique_ptr<carbon::HotKeyBackend> Desktop::makeHotKeyBackend() {
    return forcedHotKeys_ ? forcedHotKeys_() : makeOwnHotKeyBackend();
}

void Desktop::forceHotKeys(std::function<std::unique_ptr<carbon::HotKeyBackend>()> make) {
    forcedHotKeys_ = std::move(make);
}

std::unique_ptr<Desktop> loadDesktop(DisplayServer server) {
    return load(server, qGuiApp ? QGuiApplication::platformName() : QString());
}

std::unique_ptr<Desktop> loadDesktopForQtPlatform() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return load(DisplayServer::Other, QString());
    const QString platform = QGuiApplication::platformName();
    const DisplayServer server = platform == QLatin1String("xcb")                ? DisplayServer::X11
                                 : platform.startsWith(QLatin1String("wayland")) ? DisplayServer::Wayland
                                                                                 : DisplayServer::Other;
    return load(server, platform);
}

QString gnomeShortcutCommands(const std::vector<hotkeys::HotKeyCommand>& commands,
                              const QString& applicationId) {
    return wayland::gnomeShortcutCommands(commands, applicationId);
}

QString describeCapabilities(const DesktopCapabilities& capabilities) {
    QStringList parts;
    parts << (capabilities.snapsWindows ? QStringLiteral("windows snap") : QStringLiteral("no window snap"));
    parts << (capabilities.copiesScreensDirectly ? QStringLiteral("screens copied directly")
                                                 : QStringLiteral("no direct screen copies"));
    switch (capabilities.shortcuts) {
    case DesktopCapabilities::Shortcuts::None:
        parts << QStringLiteral("no shortcuts held");
        break;
    case DesktopCapabilities::Shortcuts::KeyGrabs:
        parts << QStringLiteral("shortcuts grabbed on the root window");
        break;
    case DesktopCapabilities::Shortcuts::Compositor:
        parts << QStringLiteral("shortcuts bound by the compositor");
        break;
    case DesktopCapabilities::Shortcuts::Portal:
        parts << QStringLiteral("shortcuts through the desktop portal");
        break;
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace glimra
