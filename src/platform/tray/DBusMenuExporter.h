#pragma once
// Publishes a QMenu as com.canonical.dbusmenu, so that a StatusNotifierItem host can draw the menu
// itself. The QMenu stays the one model: the host reads its actions, and the menu's own aboutToShow
// and aboutToHide fire when the host opens and closes it, exactly as when Qt pops it up locally.

#include "DBusTrayTypes.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QMenu>
#include <QPointer>

#include <unordered_map>
#include <unordered_set>
#include <vector>

class QAction;

namespace glimra::tray {

class DBusMenuExporter : public QDBusVirtualObject {
    Q_OBJECT
public:
    static const QString kInterface;

    // Registers itself at path on connection; the menu may come later (or never: an empty menu).
    DBusMenuExporter(const QDBusConnection& connection, const QString& path, QObject* parent = nullptr);
    ~DBusMenuExporter() override;

    void setMenu(QMenu* menu);
    QString path() const { return m_path; }
    uint revision() const { return m_revision; }

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watch(QMenu* menu);
    int idFor(QAction* action);
    QAction* actionFor(int id) const;
    // The menu whose children item id shows: the top menu for 0, a submenu for its action's id.
    QMenu* menuFor(int id) const;
    bool isKnownId(int id) const { return id == 0 || actionFor(id); }
    MenuLayoutItem layout(int id, int depth, const QStringList& names);
    QVariantMap properties(int id) const;
    void changed();
    bool aboutToShow(int id);
    void handleEvent(int id, const QString& eventId);

    void callMethod(const QDBusMessage& message, const QDBusConnection& connection);
    void callProperties(const QDBusMessage& message, const QDBusConnection& connection);
    QVariantMap allProperties() const;

    QDBusConnection m_connection;
    QString m_path;
    bool m_registered = false;
    QPointer<QMenu> m_menu;
    std::vector<QPointer<QMenu>> m_watched;
    std::unordered_map<int, QPointer<QAction>> m_actions;
    std::unordered_map<const QAction*, int> m_ids;
    std::unordered_set<int> m_open;
    int m_nextId = 1;
    uint m_revision = 1;
    bool m_updateQueued = false;
};

} // namespace glimra::tray
