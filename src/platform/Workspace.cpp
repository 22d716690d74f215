#include "Workspace.h"

#include "Bundle.h"
#include "Log.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace glimra {

Workspace& Workspace::sharedWorkspace() {
    static Workspace* workspace = new Workspace(QDBusConnection::sessionBus(), QCoreApplication::instance());
    return *workspace;
}

Workspace::Workspace(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {
    bus_.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                 QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
                 SLOT(nameOwnerChanged(QString, QString, QString)));
}

bool Workspace::isApplicationRunning(const QString& bundleIdentifier) const {
    if (!bus_.isConnected() || bundleIdentifier.isEmpty())
        return false;
    const QDBusReply<bool> reply = bus_.interface()->isServiceRegistered(bundleIdentifier);
    return reply.isValid() && reply.value();
}

bool Workspace::registerApplication(const QString& bundleIdentifier) {
    if (!bus_.isConnected())
        return false;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus_.interface()->registerService(bundleIdentifier, QDBusConnectionInterface::DontQueueService,
                                          QDBusConnectionInterface::DontAllowReplacement);
    return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
}

void Workspace::nameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner) {
    // Unique names (":1.42") are connections, not applications.
    if (name.startsWith(u':') || oldOwner.isEmpty() || !newOwner.isEmpty())
        return;
    emit applicationDidTerminate(name);
}

bool Workspace::openURL(const QUrl& url, QString* error) {
    // gio asks the desktop's MIME associations (x-scheme-handler/...) and fails fast when none
    // exists; xdg-open is the fallback on desktops without GLib's tools.
    for (const QString& tool : {QStringLiteral("gio"), QStringLiteral("xdg-open")}) {
        const QString program = QStandardPaths::findExecutable(tool);
        if (program.isEmpty())
            continue;
        QProcess process;
        // The launched application inherits these channels: forwarding them (rather than reading
        // them through pipes that close when we are done) keeps its output alive and in our log.
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        const QStringList args = tool == u"gio" ? QStringList{QStringLiteral("open"), url.toString()}
                                                : QStringList{url.toString()};
        process.start(program, args);
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished();
            if (error)
                *error = tool + QStringLiteral(" did not finish");
            return false;
        }
        if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
            return true;
        if (error)
            *error = tool + QStringLiteral(" exited with status %1").arg(process.exitCode());
        return false;
    }
    if (error)
        *error = QStringLiteral("no URL handler tool (gio, xdg-open) is installed");
    return false;
}

bool Workspace::launchApplicationAtURL(const QString& bundlePath, QString* error) {
    const Bundle bundle(bundlePath);
    const QString executable = bundle.executablePath();
    if (executable.isEmpty() || !QFileInfo(executable).isExecutable()) {
        if (error)
            *error = QStringLiteral("The application \"%1\" has no executable.").arg(bundlePath);
        return false;
    }
    if (!QProcess::startDetached(executable, {}, bundlePath)) {
        if (error)
            *error = QStringLiteral("The application \"%1\" could not be launched.").arg(bundlePath);
        return false;
    }
    return true;
}

} // namespace glimra
