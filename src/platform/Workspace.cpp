#include "Workspace.h"

#include "dispatch/PostedJob.h"

#include "Bundle.h"
#include "Log.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <utility>

namespace glimra {

namespace {
// gio and xdg-open return once the handler is started; one that hangs is given up on.
constexpr int kOpenURLTimeoutMs = 10000;
} // namespace

Workspace& Workspace::sharedWorkspace() {
    static Workspace* workspace = new Workspace(QDBusConnection::sessionBus(), QCoreApplication::instance());
    return *workspace;
}

Workspace::Workspace(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {
    bus_.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                 QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
                 SLOT(nameOwnerChanged(QString, QString, QString)));
}

Workspace::~Workspace() {
    // The tools are children that Qt deletes after this destructor, and a QProcess reports its tool's
    // end as it is deleted: the completion would run against a workspace that is no more.
    for (QProcess* process : findChildren<QProcess*>(Qt::FindDirectChildrenOnly))
        process->disconnect();
}

bool Workspace::isConnected(QString* error) const {
    if (bus_.isConnected())
        return true;
    if (error)
        *error = bus_.lastError().message();
    return false;
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

void Workspace::openURL(const QUrl& url, OpenCompletion completion) {
    // The tool's end is reported through the event loop of the thread its QProcess lives on; callers
    // on worker queues have none, so it always starts on the workspace's own thread (a posted job, whose
    // handover ThreadSanitizer sees).
    dispatch::postJob(this, [this, url, completion = std::move(completion)]() mutable {
        startOpening(url, std::move(completion));
    });
}

bool Workspace::event(QEvent* e) {
    return dispatch::runPostedJob(e) || QObject::event(e);
}

void Workspace::startOpening(const QUrl& url, OpenCompletion completion) {
    // gio asks the desktop's MIME associations (x-scheme-handler/...) and fails fast when none
    // exists; xdg-open is the fallback on desktops without GLib's tools.
    QString tool, program;
    for (const QString& candidate : {QStringLiteral("gio"), QStringLiteral("xdg-open")}) {
        program = QStandardPaths::findExecutable(candidate);
        if (!program.isEmpty()) {
            tool = candidate;
            break;
        }
    }
    if (program.isEmpty()) {
        completion(false, QStringLiteral("no URL handler tool (gio, xdg-open) is installed"));
        return;
    }
    // Owned by the workspace until it has reported; the guard makes the report happen once whichever
    // of exit, start failure and time-out comes first.
    auto* process = new QProcess(this);
    auto pending = std::make_shared<OpenCompletion>(std::move(completion));
    auto report = [process, pending](bool opened, const QString& error) {
        if (!*pending)
            return;
        const OpenCompletion done = std::exchange(*pending, nullptr);
        process->deleteLater();
        done(opened, error);
    };
    connect(process, &QProcess::finished, process, [report, tool](int code, QProcess::ExitStatus status) {
        if (status == QProcess::NormalExit && code == 0)
            report(true, QString());
        else
            report(false, tool + QStringLiteral(" exited with status %1").arg(code));
    });
    connect(process, &QProcess::errorOccurred, process, [report, tool](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            report(false, tool + QStringLiteral(" could not be started"));
    });
    QTimer::singleShot(kOpenURLTimeoutMs, process, [process, report, tool] {
        process->kill();
        report(false, tool + QStringLiteral(" did not finish"));
    });
    // The launched application inherits these channels: forwarding them (rather than reading them
    // through pipes that close when we are done) keeps its output alive and in our log.
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(program, tool == u"gio" ? QStringList{QStringLiteral("open"), url.toString()}
                                           : QStringList{url.toString()});
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
