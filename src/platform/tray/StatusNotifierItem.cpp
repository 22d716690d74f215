#include "StatusNotifierItem.h"

#include "DBusMenuExporter.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QPixmap>
#include <QTimer>
#include <QtEndian>

#include <atomic>
#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(lcTray)

namespace glimra::tray {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");
const QString StatusNotifierItem::kInterface = QStringLiteral("org.kde.StatusNotifierItem");

namespace {

const QString kWatcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

QDBusMessage propertyGet(const QString& service, const QString& path, const QString& iface,
                         const QString& name) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, kPropertiesInterface, QStringLiteral("Get"));
    call << iface << name;
    return call;
}

// Hosts ask for the size they draw and scale the nearest one, so offer every size the icon holds.
IconPixmapList iconPixmaps(const QIcon& icon) {
    IconPixmapList result;
    if (icon.isNull())
        return result;
    QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty())
        sizes = {QSize(16, 16), QSize(22, 22), QSize(24, 24), QSize(32, 32), QSize(48, 48)};
    for (const QSize& size : sizes) {
        const QImage image = icon.pixmap(size, 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull())
            continue;
        IconPixmap pixmap{image.width(), image.height(), QByteArray()};
        pixmap.argb.resize(qsizetype(image.width()) * image.height() * 4);
        auto* out = reinterpret_cast<quint32*>(pixmap.argb.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                *out++ = qToBigEndian(line[x]);
        }
        result.append(pixmap);
    }
    return result;
}

} // namespace

StatusNotifierHostTracker::StatusNotifierHostTracker(QObject* parent) : QObject(parent) {
    registerDBusTrayTypes();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCInfo(lcTray, "No session bus: status items can only use an XEmbed system tray");
        return;
    }
    m_serviceWatcher =
        new QDBusServiceWatcher(kWatcherService, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_serviceWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &StatusNotifierHostTracker::ownerChanged);
    bus.connect(kWatcherService, kWatcherPath, kWatcherInterface,
                QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(ask()));
    bus.connect(kWatcherService, kWatcherPath, kWatcherInterface,
                QStringLiteral("StatusNotifierHostUnregistered"), this, SLOT(ask()));
    if (bus.interface() && bus.interface()->isServiceRegistered(kWatcherService))
        ask();
}

StatusNotifierHostTracker::~StatusNotifierHostTracker() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        bus.disconnect(kWatcherService, kWatcherPath, kWatcherInterface,
                       QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(ask()));
        bus.disconnect(kWatcherService, kWatcherPath, kWatcherInterface,
                       QStringLiteral("StatusNotifierHostUnregistered"), this, SLOT(ask()));
    }
}

bool StatusNotifierHostTracker::watcherRunsNow() const {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(kWatcherService);
}

void StatusNotifierHostTracker::ownerChanged(const QString&, const QString&, const QString& newOwner) {
    ++m_generation;
    if (newOwner.isEmpty()) {
        ++m_question; // an answer still on its way is about the watcher that left
        setState(State::Absent);
    } else {
        ask();
    }
}

void StatusNotifierHostTracker::ask() {
    const quint64 question = ++m_question;
    setState(State::Asking);
    QDBusConnection bus = QDBusConnection::sessionBus();
    auto* pending = new QDBusPendingCallWatcher(
        bus.asyncCall(propertyGet(kWatcherService, kWatcherPath, kWatcherInterface,
                                  QStringLiteral("IsStatusNotifierHostRegistered"))),
        this);
    connect(
        pending, &QDBusPendingCallWatcher::finished, this, [this, question](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            if (question != m_question)
                return;
            const QDBusPendingReply<QDBusVariant> reply = *call;
            if (reply.isError()) {
                if (reply.error().type() != QDBusError::ServiceUnknown)
                    qCWarning(lcTray, "The status notifier watcher did not say whether a host runs: %s",
                              qPrintable(reply.error().message()));
                setState(reply.error().type() == QDBusError::ServiceUnknown ? State::Absent : State::NoHost);
                return;
            }
            setState(reply.value().variant().toBool() ? State::HostReady : State::NoHost);
        });
}

void StatusNotifierHostTracker::setState(State state) {
    if (state == m_state && state != State::HostReady)
        return;
    m_state = state;
    emit changed();
}

StatusNotifierItem::StatusNotifierItem(quint64 generation, QObject* parent)
    : QDBusVirtualObject(parent), m_generation(generation), m_connectionName([] {
          static std::atomic<int> counter{0};
          return QStringLiteral("glimra-status-item-%1").arg(++counter);
      }()),
      m_serviceName(QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                        .arg(getpid())
                        .arg(m_connectionName.section(QLatin1Char('-'), -1))),
      m_connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName)) {
    registerDBusTrayTypes();
    if (!m_connection.isConnected()) {
        qCWarning(lcTray, "Cannot connect to the session bus for the status item: %s",
                  qPrintable(m_connection.lastError().message()));
        return;
    }
    m_menu = std::make_unique<DBusMenuExporter>(m_connection, kMenuPath);
    m_published = m_connection.registerVirtualObject(kItemPath, this);
    if (!m_published) {
        qCWarning(lcTray, "Cannot publish the status item at %s", qPrintable(kItemPath));
        return;
    }
    // The well-known name is what the watcher hands to hosts; they find the item and its menu there.
    if (!m_connection.registerService(m_serviceName))
        qCWarning(lcTray, "Cannot own %s: %s", qPrintable(m_serviceName),
                  qPrintable(m_connection.lastError().message()));
    registerWithWatcher();
}

StatusNotifierItem::~StatusNotifierItem() {
    m_menu.reset();
    if (m_published)
        m_connection.unregisterObject(kItemPath);
    // Leaving the bus drops the names, which tells the watcher the item is gone.
    QDBusConnection::disconnectFromBus(m_connectionName);
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherInterface,
                                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << m_serviceName;
    auto* pending = new QDBusPendingCallWatcher(m_connection.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<> reply = *call;
        if (reply.isError()) {
            qCWarning(lcTray, "The status notifier watcher did not take the status item: %s",
                      qPrintable(reply.error().message()));
            return;
        }
        m_registered = true;
        emit registeredChanged(true);
    });
}

void StatusNotifierItem::notify(const char* signal, const QVariantList& args) {
    if (!m_published)
        return;
    QDBusMessage message = QDBusMessage::createSignal(kItemPath, kInterface, QString::fromLatin1(signal));
    message.setArguments(args);
    m_connection.send(message);
}

void StatusNotifierItem::setIcon(const QIcon& icon) {
    m_icon = iconPixmaps(icon);
    notify("NewIcon");
}

void StatusNotifierItem::setToolTip(const QString& text) {
    if (text == m_toolTip)
        return;
    m_toolTip = text;
    notify("NewToolTip");
}

void StatusNotifierItem::setMenu(QMenu* menu) {
    if (m_menu)
        m_menu->setMenu(menu);
}

QVariantMap StatusNotifierItem::allProperties() const {
    const QString id = QCoreApplication::applicationName();
    const QString title = QGuiApplication::applicationDisplayName();
    return {
        {QStringLiteral("Category"), QStringLiteral("ApplicationStatus")},
        {QStringLiteral("Id"), id},
        {QStringLiteral("Title"), title},
        {QStringLiteral("Status"), QStringLiteral("Active")},
        {QStringLiteral("WindowId"), 0},
        {QStringLiteral("IconThemePath"), QString()},
        {QStringLiteral("Menu"), QVariant::fromValue(QDBusObjectPath(kMenuPath))},
        // The whole item is its menu: hosts open it on any click.
        {QStringLiteral("ItemIsMenu"), true},
        {QStringLiteral("IconName"), QString()},
        {QStringLiteral("IconPixmap"), QVariant::fromValue(m_icon)},
        {QStringLiteral("OverlayIconName"), QString()},
        {QStringLiteral("OverlayIconPixmap"), QVariant::fromValue(IconPixmapList())},
        {QStringLiteral("AttentionIconName"), QString()},
        {QStringLiteral("AttentionIconPixmap"), QVariant::fromValue(IconPixmapList())},
        {QStringLiteral("AttentionMovieName"), QString()},
        {QStringLiteral("ToolTip"),
         QVariant::fromValue(ToolTip{QString(), IconPixmapList(), m_toolTip, QString()})},
    };
}

bool StatusNotifierItem::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    if (message.interface() == kPropertiesInterface) {
        callProperties(message, connection);
        return true;
    }
    const QString member = message.member();
    const QVariantList args = message.arguments();
    if ((member == QLatin1String("Activate") || member == QLatin1String("ContextMenu")) &&
        message.signature() == QLatin1String("ii")) {
        connection.send(message.createReply());
        emit popupRequested(QPoint(args.at(0).toInt(), args.at(1).toInt()));
    } else if ((member == QLatin1String("SecondaryActivate") && message.signature() == QLatin1String("ii")) ||
               (member == QLatin1String("Scroll") && message.signature() == QLatin1String("is")) ||
               (member == QLatin1String("ProvideXdgActivationToken") &&
                message.signature() == QLatin1String("s"))) {
        connection.send(message.createReply());
    } else {
        connection.send(message.createErrorReply(
            QDBusError::UnknownMethod,
            QStringLiteral("No method %1(%2) in %3").arg(member, message.signature(), kInterface)));
    }
    return true;
}

void StatusNotifierItem::callProperties(const QDBusMessage& message, const QDBusConnection& connection) {
    const QString member = message.member();
    const QVariantList args = message.arguments();
    // Some hosts speak the freedesktop spelling of the same interface.
    const auto ours = [](const QString& iface) {
        return iface.isEmpty() || iface == kInterface ||
               iface == QLatin1String("org.freedesktop.StatusNotifierItem");
    };
    if (member == QLatin1String("Get") && message.signature() == QLatin1String("ss") &&
        ours(args.at(0).toString())) {
        const QVariantMap all = allProperties();
        const auto it = all.constFind(args.at(1).toString());
        if (it != all.constEnd()) {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(it.value()))));
            return;
        }
    } else if (member == QLatin1String("GetAll") && message.signature() == QLatin1String("s")) {
        connection.send(message.createReply(
            QVariant::fromValue(ours(args.at(0).toString()) ? allProperties() : QVariantMap())));
        return;
    }
    connection.send(message.createErrorReply(
        QDBusError::InvalidArgs,
        QStringLiteral("No such property call %1(%2)").arg(member, message.signature())));
}

QString StatusNotifierItem::introspect(const QString&) const {
    return QStringLiteral(R"xml(  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus"><arg name="status" type="s"/></signal>
  </interface>
)xml");
}

} // namespace glimra::tray
