#pragma once
// The status item as a StatusNotifierItem: published on a session bus connection of its own (with its
// menu at /MenuBar) and registered with org.kde.StatusNotifierWatcher, whose host draws it. Used in
// place of Qt's own StatusNotifierItem because Qt 6.4 decides once per process whether to use one, so
// a watcher that starts after the application never gets its item.

#include "DBusTrayTypes.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QIcon>
#include <QPoint>
#include <QString>

#include <memory>

class QDBusServiceWatcher;
class QMenu;

namespace glimra::tray {

class DBusMenuExporter;

extern const QString kWatcherService;
extern const QString kWatcherPath;
extern const QString kItemPath;
extern const QString kMenuPath;

// Follows the session's StatusNotifierWatcher: whether one runs and whether a host draws its items.
class StatusNotifierHostTracker : public QObject {
    Q_OBJECT
public:
    enum class State {
        Absent,    // no watcher (or no session bus)
        Asking,    // a watcher runs; whether it has a host is being asked
        HostReady, // a host draws the registered items
        NoHost,    // a watcher without a host
    };

    explicit StatusNotifierHostTracker(QObject* parent = nullptr);
    ~StatusNotifierHostTracker() override;

    State state() const { return m_state; }
    // Grows whenever the watcher changes hands: an item registered with an earlier one registers again.
    quint64 generation() const { return m_generation; }
    // Asks the bus, now, whether a watcher runs (news of it may still be on the way).
    bool watcherRunsNow() const;

signals:
    void changed();

private slots:
    void ownerChanged(const QString& service, const QString& oldOwner, const QString& newOwner);
    void ask();

private:
    void setState(State state);

    QDBusServiceWatcher* m_serviceWatcher = nullptr; // child
    State m_state = State::Absent;
    quint64 m_generation = 0;
    quint64 m_question = 0;
};

class StatusNotifierItem : public QDBusVirtualObject {
    Q_OBJECT
public:
    static const QString kInterface;

    // Connects, publishes the item and its menu and asks the watcher to show it. Failures are logged;
    // the item then stays unregistered.
    StatusNotifierItem(quint64 generation, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    quint64 generation() const { return m_generation; }
    // The watcher accepted the item.
    bool isRegistered() const { return m_registered; }

    void setIcon(const QIcon& icon);
    void setToolTip(const QString& text);
    void setMenu(QMenu* menu);

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

signals:
    void registeredChanged(bool registered);
    // The host asks the application to show the menu itself, at this point of the screen.
    void popupRequested(const QPoint& screenPos);

private:
    void registerWithWatcher();
    void notify(const char* signal, const QVariantList& args = {});
    QVariantMap allProperties() const;
    void callProperties(const QDBusMessage& message, const QDBusConnection& connection);

    quint64 m_generation;
    QString m_connectionName;
    QString m_serviceName;
    QDBusConnection m_connection;
    bool m_published = false;
    bool m_registered = false;
    std::unique_ptr<DBusMenuExporter> m_menu;
    IconPixmapList m_icon;
    QString m_toolTip;
};

} // namespace glimra::tray
