#include "ReferenceMainApp.h"

#include "Bundle.h"
#include "DistributedNotificationCenter.h"
#include "Log.h"
#include "LoginItems.h"
#include "SharedHelperCommunication.h"
#include "Workspace.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

using namespace xpc;

namespace {
const char kHelperService[] = "app.glimra.GlimraHelper";
const QString kMainAppService = QStringLiteral("app.glimra.Glimra");
const QString kMainAppObject = QStringLiteral("/app/glimra/Glimra");
constexpr QFile::Permissions kFilePermissions =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
constexpr QFile::Permissions kFolderPermissions =
    kFilePermissions | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
} // namespace

ReferenceMainApp::ReferenceMainApp(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {}

bool ReferenceMainApp::start() {
    // Published before the name is claimed, so a second Glimra that finds the name finds it too.
    QDBusConnection::sessionBus().registerObject(kMainAppObject, this,
                                                 QDBusConnection::ExportScriptableSlots);
    if (!glimra::Workspace::sharedWorkspace().registerApplication(kMainAppService)) {
        if (options_.startHelperAtLogin)
            exitStatus_ = handOverToRunningApplication() ? 0 : 1;
        else
            NSLog("Glimra already runs in this session.");
        return false;
    }
    // Screenshots are never anybody else's to change, whatever the umask.
    if (!QFileInfo::exists(options_.outputDirectory) && QDir().mkpath(options_.outputDirectory))
        QFile::setPermissions(options_.outputDirectory, kFolderPermissions);
    NSLog("Glimra is running; screenshots go to %@", options_.outputDirectory);
    if (options_.startHelperAtLogin)
        setHelperLoginItemEnabled(*options_.startHelperAtLogin);
    if (!options_.connect)
        return true;
    glimra::DistributedNotificationCenter::defaultCenter().addObserver(
        QString::fromLatin1(kXPCHelperAppIsReadyNotification),
        [this](const QString&, const QString&) { helperIsReady(); });
    glimra::DistributedNotificationCenter::defaultCenter().addObserver(
        QString::fromLatin1(kXPCHelperAppWillTerminateNotification),
        [this](const QString&, const QString&) { helperSaidGoodbye_ = true; });
    auto* helperWatch =
        new QDBusServiceWatcher(QString::fromLatin1(kHelperService), QDBusConnection::sessionBus(),
                                QDBusServiceWatcher::WatchForUnregistration, this);
    connect(helperWatch, &QDBusServiceWatcher::serviceUnregistered, this, &ReferenceMainApp::helperVanished);
    // A helper that started first has announced itself already; otherwise it announces itself once
    // started.
    if (glimra::Workspace::sharedWorkspace().isApplicationRunning(QString::fromLatin1(kHelperService)))
        connectToHelper();
    else
        startHelper();
    return true;
}

void ReferenceMainApp::startHelper() {
    // An installed helper is started by the session bus when asked for by name (its D-Bus service
    // file), and stays because this application runs. A bus that knows no helper (a build tree, a
    // private bus) leaves it to this application: the helper of its own bundle.
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("StartServiceByName"));
    call << QString::fromLatin1(kHelperService) << 0u;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        if (!finished->isError())
            return;
        if (finished->error().type() != QDBusError::ServiceUnknown) {
            NSLog("The session bus did not start the helper: %@", finished->error().message());
            return;
        }
        const QString helper = helperExecutable();
        QString error;
        if (helper.isEmpty())
            NSLog("No helper is installed and none is in %@", glimra::currentMainBundlePath());
        else if (!glimra::Workspace::sharedWorkspace().launchApplicationAtURL(
                     glimra::Bundle::bundlePathForExecutable(helper).value_or(QString()), &error))
            NSLog("Could not start the helper %@: %@", helper, error);
        else
            NSLog("Started the helper of this bundle: %@", helper);
    });
}

QString ReferenceMainApp::helperExecutable() {
    // Found by its identifier among the login items of this bundle, wherever the bundle lies now.
    const QDir loginItems(glimra::currentMainBundlePath() + u'/' +
                          QString::fromLatin1(kAppBundleLoginItemsPath));
    for (const QString& name : loginItems.entryList({QStringLiteral("*.app")}, QDir::Dirs)) {
        const glimra::Bundle bundle(loginItems.filePath(name));
        if (bundle.bundleIdentifier() == QLatin1String(kHelperService))
            return bundle.executablePath();
    }
    return {};
}

QString ReferenceMainApp::setHelperLoginItemEnabled(bool enabled) {
    const QString entry = glimra::autostartEntryPath(QString::fromLatin1(kHelperService));
    const QString helper = enabled ? helperExecutable() : QString();
    QString done;
    if (!enabled)
        done = glimra::removeAutostartEntry(entry)
                   ? QStringLiteral("The helper no longer starts at login")
                   : glimra::stringWithFormat("The helper's login item %@ could not be removed", entry);
    else if (helper.isEmpty())
        done = glimra::stringWithFormat("No helper in %@ to start at login", glimra::currentMainBundlePath());
    else if (glimra::writeAutostartEntry(entry, QStringLiteral("Glimra Helper"), helper))
        done = glimra::stringWithFormat("The helper starts at login: %@ runs %@", entry, helper);
    else
        done = glimra::stringWithFormat("The helper's login item %@ could not be written", entry);
    NSLog("%@", done);
    return done;
}

QString ReferenceMainApp::SetStartHelperAtLogin(bool enabled) {
    const QString done = setHelperLoginItemEnabled(enabled);
    options_.startHelperAtLogin = enabled;
    sendStartHelperAtLogin();
    return done;
}

bool ReferenceMainApp::handOverToRunningApplication() {
    QDBusMessage call = QDBusMessage::createMethodCall(kMainAppService, kMainAppObject, kMainAppService,
                                                       QStringLiteral("SetStartHelperAtLogin"));
    call << *options_.startHelperAtLogin;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
    const QString value = *options_.startHelperAtLogin ? QStringLiteral("true") : QStringLiteral("false");
    if (reply.type() != QDBusMessage::ReplyMessage) {
        NSLog("Glimra already runs in this session and was not handed --start-helper-at-login %@: %@", value,
              reply.errorMessage());
        return false;
    }
    NSLog("Glimra already runs in this session; handed it --start-helper-at-login %@: %@", value,
          reply.arguments().value(0).toString());
    return true;
}

// Sent on every new connection while set, and at once when changed: a helper that starts later, or
// again, learns it too.
void ReferenceMainApp::sendStartHelperAtLogin() {
    if (!connection_ || !options_.startHelperAtLogin)
        return;
    xpc_object_t message = xpc_dictionary_create();
    xpc_dictionary_set_uint64(message, kXPCMessageIdentifierKey, kXPCMessageSetStartHelperAtLogin);
    xpc_dictionary_set_bool(message, kXPCBooleanKey, *options_.startHelperAtLogin);
    xpc_connection_send_message(connection_, message);
}

QString ReferenceMainApp::helperBusName() {
    return QDBusConnection::sessionBus()
        .interface()
        ->serviceOwner(QString::fromLatin1(kHelperService))
        .value();
}

void ReferenceMainApp::helperVanished() {
    if (std::exchange(helperSaidGoodbye_, false))
        return;
    // A moment later: systemd may have started it again already (the installed helper is a user
    // service that restarts on failure).
    QTimer::singleShot(1000, this, [this] {
        if (glimra::Workspace::sharedWorkspace().isApplicationRunning(QString::fromLatin1(kHelperService)))
            return;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        while (!restarts_.empty() && now - restarts_.front() > 60000)
            restarts_.pop_front();
        if (restarts_.size() >= 3) {
            NSLog("The helper ended without a word again; it is not started a fourth time within a minute");
            return;
        }
        restarts_.push_back(now);
        NSLog("The helper ended without a word (it was killed, or crashed); starting it again");
        startHelper();
    });
}

void ReferenceMainApp::helperIsReady() {
    helperSaidGoodbye_ = false;
    // A helper announces itself right after claiming its name, so one that was found running at start
    // may announce itself after the connection to it was made: that connection is kept, with what
    // was sent on it.
    if (connection_ && helperBusName() == connectedBusName_)
        return;
    connectToHelper();
}

void ReferenceMainApp::connectToHelper() {
    if (connection_)
        xpc_connection_cancel(connection_);
    connectedBusName_ = helperBusName();
    xpc_connection_t connection =
        xpc_connection_create_mach_service(kHelperService, dispatch::dispatch_get_main_queue(), 0);
    if (!connection)
        return;
    connection_ = connection;
    std::weak_ptr<Object> weak = connection;
    xpc_connection_set_event_handler(connection, [this, weak](xpc_object_t event) {
        if (auto c = weak.lock())
            handleEvent(c, event);
    });
    xpc_connection_resume(connection);
    NSLog("Connected to the helper");
    if (!sentOnConnect_) {
        sentOnConnect_ = true;
        for (const quint64 kind : options_.sendOnConnect) {
            xpc_object_t message = xpc_dictionary_create();
            xpc_dictionary_set_uint64(message, kXPCMessageIdentifierKey, kind);
            xpc_connection_send_message(connection, message);
        }
    }
    sendStartHelperAtLogin();
}

void ReferenceMainApp::handleEvent(const xpc_connection_t& connection, const xpc_object_t& event) {
    if (xpc_get_type(event) == xpc_type_t::Error) {
        if (connection != connection_)
            return;
        NSLog("Connection to the helper ended: %s", xpc_copy_description(event));
        connection_ = nullptr;
        // Reconnect while a helper is there; otherwise its ready notification brings us back.
        if (glimra::Workspace::sharedWorkspace().isApplicationRunning(QString::fromLatin1(kHelperService)))
            connectToHelper();
        return;
    }
    if (xpc_get_type(event) != xpc_type_t::Dictionary)
        return;
    switch (xpc_dictionary_get_uint64(event, kXPCMessageIdentifierKey)) {
    case kXPCMessageRequestScreenSnap: {
        NSLog("Capture requested");
        xpc_object_t reply = xpc_dictionary_create_reply(event);
        if (!reply)
            return;
        switch (options_.answer) {
        case Answer::Allow:
            xpc_dictionary_set_bool(reply, kXPCBooleanKey, true);
            break;
        case Answer::Refuse:
            xpc_dictionary_set_bool(reply, kXPCBooleanKey, false);
            break;
        case Answer::RefuseWithoutKey:
            break;
        case Answer::RefuseWithError:
            // Dropping the connection makes the pending request fail with an error.
            xpc_connection_cancel(connection);
            return;
        case Answer::Ignore:
            return;
        }
        xpc_connection_send_message(xpc_dictionary_get_remote_connection(event), reply);
        break;
    }
    case kXPCMessageScreenshot:
        saveScreenshot(event);
        break;
    case kXPCMessageShowMainApp:
        NSLog("Show Glimra (bring to front: %@)", xpc_dictionary_get_bool(event, kXPCBooleanKey)
                                                      ? QStringLiteral("true")
                                                      : QStringLiteral("false"));
        break;
    case kXPCMessageTerminateMainApp:
        NSLog("Quitting at the helper's request");
        QCoreApplication::quit();
        break;
    default:
        break;
    }
}

QString ReferenceMainApp::uniqueFilePath(const QDir& directory, const QString& title) {
    QString base = title;
    // A title is a name, never a path.
    base.replace(u'/', u'-').replace(QChar(0), u' ');
    base = base.trimmed();
    if (base.isEmpty() || base == u"." || base == u"..")
        base = QStringLiteral("Untitled");
    if (base.size() > 200)
        base.truncate(200);
    QString path = directory.filePath(base + QStringLiteral(".png"));
    for (int n = 2; QFile::exists(path); ++n)
        path = directory.filePath(base + QStringLiteral(" %1.png").arg(n));
    return path;
}

QString ReferenceMainApp::saveScreenshot(const xpc_object_t& message, const QString& directory,
                                         QString* error) {
    // Large data arrives mapped from a memfd: read it in place rather than copying 30 MB.
    size_t length = 0;
    const void* bytes = xpc_dictionary_get_data(message, kXPCPNGDataKey, &length);
    const QByteArray png = QByteArray::fromRawData(static_cast<const char*>(bytes), qsizetype(length));
    const QString title = QString::fromStdString(xpc_dictionary_get_string(message, kXPCTitleKey));
    // Made again if it went since the start (the user tidied the pictures folder): a screenshot is never
    // lost for want of its folder.
    if (!QFileInfo::exists(directory) && QDir().mkpath(directory))
        QFile::setPermissions(directory, kFolderPermissions);
    const QString path = uniqueFilePath(QDir(directory), title);
    // Written beside its final name and renamed into place, so nobody sees half a file. No fsync:
    // a screenshot is not worth stalling the application for the disk.
    const QString partial = path + QStringLiteral(".part");
    QFile file(partial);
    if (!file.open(QIODevice::WriteOnly, kFilePermissions) || file.write(png) != png.size() ||
        !file.flush() || !QFile::rename(partial, path)) {
        *error = file.errorString();
        QFile::remove(partial);
        return {};
    }
    return path;
}

void ReferenceMainApp::saveScreenshot(const xpc_object_t& message) {
    QString error;
    const QString path = saveScreenshot(message, options_.outputDirectory, &error);
    if (path.isEmpty()) {
        NSLog("Could not save the screenshot in %@: %@", options_.outputDirectory, error);
        return;
    }
    size_t length = 0;
    xpc_dictionary_get_data(message, kXPCPNGDataKey, &length);
    NSLog("Saved screenshot %@ (width %@, height %@, %@ bytes, title \"%@\")", path,
          xpc_dictionary_get_uint64(message, kXPCWidthKey), xpc_dictionary_get_uint64(message, kXPCHeightKey),
          qsizetype(length), QString::fromStdString(xpc_dictionary_get_string(message, kXPCTitleKey)));
}
