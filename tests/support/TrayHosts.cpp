#include "TrayHosts.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QMutex>

namespace glimra::test {

namespace {

const QString kWatcherService = "org.kde.StatusNotifierWatcher";
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

std::optional<xcb_window_t> search(XClient& x, xcb_window_t w, bool insideTrayer, qint64 pid) {
    const bool trayer = insideTrayer || x.property(w, "WM_CLASS").contains("trayer");
    for (xcb_window_t child : x.children(w)) {
        if (trayer && x.property32(child, "_NET_WM_PID") == pid && x.viewable(child))
            return child;
        if (auto found = search(x, child, trayer, pid))
            return found;
    }
    return std::nullopt;
}

} // namespace

std::unique_ptr<Program> startTrayer(const char* edge) {
    return std::make_unique<Program>("trayer", QStringList{"--edge", edge, "--align", "right", "--widthtype",
                                                           "request", "--height", "24", "--SetDockType",
                                                           "true", "--SetPartialStrut", "false"});
}

bool trayRunning(XClient& x) {
    return x.selectionOwner("_NET_SYSTEM_TRAY_S0") != XCB_NONE;
}

std::optional<xcb_window_t> iconDockedInTrayer(XClient& x, qint64 pid) {
    return search(x, x.root(), false, pid);
}

class FakeStatusNotifierWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    explicit FakeStatusNotifierWatcher(QString connectionName) : connectionName_(std::move(connectionName)) {}
    QStringList registeredItems() const {
        QMutexLocker lock(&mutex_);
        return items_;
    }
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

public slots:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message) {
        // An item names its service, or only its path on the caller's connection.
        const QString item = service.startsWith(u'/') ? message.service() + service : service;
        {
            QMutexLocker lock(&mutex_);
            items_ << item;
        }
        QDBusMessage signal = QDBusMessage::createSignal(kWatcherPath, kWatcherService,
                                                         QStringLiteral("StatusNotifierItemRegistered"));
        signal << item;
        QDBusConnection(connectionName_).send(signal);
    }
    void RegisterStatusNotifierHost(const QString&) {}

private:
    const QString connectionName_;
    mutable QMutex mutex_;
    QStringList items_;
};

StatusNotifierWatcher::StatusNotifierWatcher()
    : watcher_(std::make_unique<FakeStatusNotifierWatcher>(name_)) {
    watcher_->moveToThread(&thread_);
    thread_.start();
}

StatusNotifierWatcher::~StatusNotifierWatcher() {
    stop();
    thread_.quit();
    thread_.wait();
}

bool StatusNotifierWatcher::start() {
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name_);
    running_ = bus.registerObject(kWatcherPath, watcher_.get(),
                                  QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) &&
               bus.registerService(kWatcherService);
    bus.send(QDBusMessage::createSignal(kWatcherPath, kWatcherService, "StatusNotifierHostRegistered"));
    return running_;
}

void StatusNotifierWatcher::stop() {
    if (!running_)
        return;
    QDBusConnection bus(name_);
    bus.unregisterService(kWatcherService);
    bus.unregisterObject(kWatcherPath);
    QDBusConnection::disconnectFromBus(name_);
    running_ = false;
}

QStringList StatusNotifierWatcher::items() const {
    return watcher_->registeredItems();
}

bool StatusNotifierWatcher::onBus() {
    return nameHasOwner(kWatcherService);
}

QDBusMessage busCall(const QString& service, const QString& path, const QString& interface,
                     const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, 5000);
    waitUntil([&] { return pending.isFinished(); }, 6000);
    return pending.reply();
}

} // namespace glimra::test

#include "TrayHosts.moc"
