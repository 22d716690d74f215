#pragma once
// The structured D-Bus values of the StatusNotifierItem and com.canonical.dbusmenu interfaces.

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

namespace glimra::tray {

// One image of an icon: ARGB32 pixels in network byte order, signature (iiay).
struct IconPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using IconPixmapList = QList<IconPixmap>;

// (sa(iiay)ss): icon name, icon images, title, description.
struct ToolTip {
    QString iconName;
    IconPixmapList icon;
    QString title;
    QString description;
};

// A menu node with its properties and, recursively, its children: (ia{sv}av).
struct MenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<MenuLayoutItem> children;
};

// (ia{sv})
struct MenuItemProperties {
    int id = 0;
    QVariantMap properties;
};
using MenuItemPropertiesList = QList<MenuItemProperties>;

// (isvu)
struct MenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using MenuEventList = QList<MenuEvent>;

QDBusArgument& operator<<(QDBusArgument& arg, const IconPixmap& value);
const QDBusArgument& operator>>(const QDBusArgument& arg, IconPixmap& value);
QDBusArgument& operator<<(QDBusArgument& arg, const ToolTip& value);
const QDBusArgument& operator>>(const QDBusArgument& arg, ToolTip& value);
QDBusArgument& operator<<(QDBusArgument& arg, const MenuLayoutItem& value);
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuLayoutItem& value);
QDBusArgument& operator<<(QDBusArgument& arg, const MenuItemProperties& value);
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuItemProperties& value);
QDBusArgument& operator<<(QDBusArgument& arg, const MenuEvent& value);
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuEvent& value);

// Registers the types above with QtDBus; cheap to call again.
void registerDBusTrayTypes();

} // namespace glimra::tray

Q_DECLARE_METATYPE(glimra::tray::IconPixmap)
Q_DECLARE_METATYPE(glimra::tray::ToolTip)
Q_DECLARE_METATYPE(glimra::tray::MenuLayoutItem)
Q_DECLARE_METATYPE(glimra::tray::MenuItemProperties)
Q_DECLARE_METATYPE(glimra::tray::MenuEvent)
