#include "DBusMenuExporter.h"

#include <QActionGroup>
#include <QBuffer>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLoggingCategory>
#include <QMenu>
#include <QTimer>

Q_DECLARE_LOGGING_CATEGORY(lcTray)

namespace glimra::tray {

const QString DBusMenuExporter::kInterface = QStringLiteral("com.canonical.dbusmenu");

namespace {

const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// Qt marks the mnemonic with '&' ("&&" is a literal ampersand); dbusmenu uses '_' ("__" literal).
// Text after a tab is Qt's shortcut column, which dbusmenu carries in a property of its own.
QString dbusLabel(const QString& text) {
    const QString shown = text.section(QLatin1Char('\t'), 0, 0);
    QString label;
    label.reserve(shown.size());
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const QChar c = shown.at(i);
        if (c == QLatin1Char('&')) {
            if (i + 1 < shown.size() && shown.at(i + 1) == QLatin1Char('&')) {
                label += QLatin1Char('&');
                ++i;
            } else if (i + 1 < shown.size()) {
                label += QLatin1Char('_');
            }
        } else if (c == QLatin1Char('_')) {
            label += QStringLiteral("__");
        } else {
            label += c;
        }
    }
    return label;
}

// dbusmenu spells a key combination as its modifier names followed by the key's name.
QList<QStringList> dbusShortcut(const QKeySequence& sequence) {
    QList<QStringList> result;
    for (int i = 0; i < sequence.count(); ++i) {
        const QKeyCombination combination = sequence[i];
        QStringList keys;
        const Qt::KeyboardModifiers mods = combination.keyboardModifiers();
        if (mods & Qt::ControlModifier)
            keys << QStringLiteral("Control");
        if (mods & Qt::AltModifier)
            keys << QStringLiteral("Alt");
        if (mods & Qt::ShiftModifier)
            keys << QStringLiteral("Shift");
        if (mods & Qt::MetaModifier)
            keys << QStringLiteral("Super");
        keys << QKeySequence(combination.key()).toString(QKeySequence::PortableText);
        result << keys;
    }
    return result;
}

QByteArray pngOf(const QIcon& icon) {
    const QPixmap pixmap = icon.pixmap(QSize(16, 16));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    pixmap.save(&buffer, "PNG");
    return bytes;
}

QVariantMap only(const QVariantMap& all, const QStringList& names) {
    if (names.isEmpty())
        return all;
    QVariantMap picked;
    for (const QString& name : names) {
        const auto it = all.constFind(name);
        if (it != all.constEnd())
            picked.insert(name, it.value());
    }
    return picked;
}

void replyError(const QDBusMessage& message, const QDBusConnection& connection, const QString& name,
                const QString& text) {
    connection.send(message.createErrorReply(name, text));
}

const QString kUnknownId = QStringLiteral("com.canonical.dbusmenu.Error.UnknownId");

} // namespace

DBusMenuExporter::DBusMenuExporter(const QDBusConnection& connection, const QString& path, QObject* parent)
    : QDBusVirtualObject(parent), m_connection(connection), m_path(path) {
    registerDBusTrayTypes();
    qDBusRegisterMetaType<QList<QStringList>>();
    m_registered = m_connection.registerVirtualObject(m_path, this);
    if (!m_registered)
        qCWarning(lcTray, "Cannot publish the status menu at %s", qPrintable(m_path));
}

DBusMenuExporter::~DBusMenuExporter() {
    if (m_registered)
        m_connection.unregisterObject(m_path);
}

void DBusMenuExporter::setMenu(QMenu* menu) {
    if (m_menu == menu)
        return;
    for (const QPointer<QMenu>& watched : m_watched) {
        if (watched)
            watched->removeEventFilter(this);
    }
    m_watched.clear();
    m_open.clear();
    m_menu = menu;
    if (menu)
        watch(menu);
    changed();
}

void DBusMenuExporter::watch(QMenu* menu) {
    for (const QPointer<QMenu>& watched : m_watched) {
        if (watched == menu)
            return;
    }
    m_watched.emplace_back(menu);
    menu->installEventFilter(this);
}

bool DBusMenuExporter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ActionAdded:
    case QEvent::ActionRemoved:
    case QEvent::ActionChanged:
        changed();
        break;
    default:
        break;
    }
    return QDBusVirtualObject::eventFilter(watched, event);
}

// Every change of the menu makes a new revision at once, so a change made while the host waits for
// AboutToShow is reported in its answer; the signal itself goes out once per turn of the event loop.
void DBusMenuExporter::changed() {
    ++m_revision;
    if (m_updateQueued)
        return;
    m_updateQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_updateQueued = false;
        if (!m_registered)
            return;
        QDBusMessage signal = QDBusMessage::createSignal(m_path, kInterface, QStringLiteral("LayoutUpdated"));
        signal << m_revision << 0;
        m_connection.send(signal);
    });
}

int DBusMenuExporter::idFor(QAction* action) {
    const auto it = m_ids.find(action);
    if (it != m_ids.end()) {
        const auto known = m_actions.find(it->second);
        if (known != m_actions.end() && known->second == action)
            return it->second;
    }
    // A new action, or a new one at the address of a deleted one: either way a fresh id.
    const int id = m_nextId++;
    m_ids[action] = id;
    m_actions[id] = action;
    return id;
}

QAction* DBusMenuExporter::actionFor(int id) const {
    const auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second.data();
}

QMenu* DBusMenuExporter::menuFor(int id) const {
    if (id == 0)
        return m_menu.data();
    QAction* action = actionFor(id);
    return action ? QMenu::menuInAction(action) : nullptr;
}

QVariantMap DBusMenuExporter::properties(int id) const {
    QVariantMap p;
    if (id == 0) {
        p.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        return p;
    }
    QAction* action = actionFor(id);
    if (!action)
        return p;
    p.insert(QStringLiteral("visible"), action->isVisible());
    if (action->isSeparator()) {
        p.insert(QStringLiteral("type"), QStringLiteral("separator"));
        return p;
    }
    p.insert(QStringLiteral("label"), dbusLabel(action->text()));
    p.insert(QStringLiteral("enabled"), action->isEnabled());
    if (action->isCheckable()) {
        const bool radio = action->actionGroup() && action->actionGroup()->isExclusive();
        p.insert(QStringLiteral("toggle-type"),
                 radio ? QStringLiteral("radio") : QStringLiteral("checkmark"));
        p.insert(QStringLiteral("toggle-state"), action->isChecked() ? 1 : 0);
    }
    if (QMenu::menuInAction(action))
        p.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    if (!action->shortcut().isEmpty())
        p.insert(QStringLiteral("shortcut"), QVariant::fromValue(dbusShortcut(action->shortcut())));
    if (!action->icon().isNull() && action->isIconVisibleInMenu())
        p.insert(QStringLiteral("icon-data"), pngOf(action->icon()));
    return p;
}

MenuLayoutItem DBusMenuExporter::layout(int id, int depth, const QStringList& names) {
    MenuLayoutItem item;
    item.id = id;
    item.properties = only(properties(id), names);
    QMenu* menu = menuFor(id);
    if (!menu || depth == 0)
        return item;
    watch(menu);
    const QList<QAction*> actions = menu->actions();
    for (QAction* action : actions)
        item.children.append(layout(idFor(action), depth < 0 ? -1 : depth - 1, names));
    return item;
}

bool DBusMenuExporter::aboutToShow(int id) {
    QPointer<QMenu> menu = menuFor(id);
    if (!menu)
        return false;
    const uint before = m_revision;
    m_open.insert(id);
    // The menu's own signal, so code preparing the menu runs for a host's menu as for a local one.
    emit menu->aboutToShow();
    return m_revision != before;
}

void DBusMenuExporter::handleEvent(int id, const QString& eventId) {
    if (eventId == QLatin1String("clicked")) {
        QPointer<QAction> action = actionFor(id);
        if (!action || !action->isEnabled() || !action->isVisible() || action->isSeparator())
            return;
        // After the reply has gone: the action may run a long command or open windows.
        QTimer::singleShot(0, action, [action] { action->trigger(); });
    } else if (eventId == QLatin1String("hovered")) {
        if (QAction* action = actionFor(id))
            action->hover();
    } else if (eventId == QLatin1String("opened")) {
        // Hosts that skip AboutToShow still say when a menu opens.
        if (!m_open.count(id))
            aboutToShow(id);
    } else if (eventId == QLatin1String("closed")) {
        m_open.erase(id);
        if (QMenu* menu = menuFor(id))
            emit menu->aboutToHide();
    }
}

QVariantMap DBusMenuExporter::allProperties() const {
    const bool rtl = QGuiApplication::layoutDirection() == Qt::RightToLeft;
    return {
        {QStringLiteral("Version"), QVariant::fromValue(uint(3))},
        {QStringLiteral("TextDirection"), rtl ? QStringLiteral("rtl") : QStringLiteral("ltr")},
        {QStringLiteral("Status"), QStringLiteral("normal")},
        {QStringLiteral("IconThemePath"), QStringList()},
    };
}

bool DBusMenuExporter::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    if (message.interface() == kPropertiesInterface)
        callProperties(message, connection);
    else
        callMethod(message, connection);
    return true;
}

void DBusMenuExporter::callProperties(const QDBusMessage& message, const QDBusConnection& connection) {
    const QString member = message.member();
    const QVariantList args = message.arguments();
    const QVariantMap all = allProperties();
    if (member == QLatin1String("Get") && message.signature() == QLatin1String("ss")) {
        const QString iface = args.at(0).toString();
        const auto it = all.constFind(args.at(1).toString());
        if ((!iface.isEmpty() && iface != kInterface) || it == all.constEnd()) {
            replyError(message, connection, QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"),
                       QStringLiteral("No property %1 in %2").arg(args.at(1).toString(), iface));
            return;
        }
        connection.send(message.createReply(QVariant::fromValue(QDBusVariant(it.value()))));
    } else if (member == QLatin1String("GetAll") && message.signature() == QLatin1String("s")) {
        const QString iface = args.at(0).toString();
        connection.send(message.createReply(
            QVariant::fromValue(iface.isEmpty() || iface == kInterface ? all : QVariantMap())));
    } else if (member == QLatin1String("Set")) {
        replyError(message, connection, QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly"),
                   QStringLiteral("The menu's properties are read-only"));
    } else {
        replyError(message, connection, QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                   QStringLiteral("Unknown call %1(%2)").arg(member, message.signature()));
    }
}

void DBusMenuExporter::callMethod(const QDBusMessage& message, const QDBusConnection& connection) {
    if (!message.interface().isEmpty() && message.interface() != kInterface) {
        replyError(message, connection, QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"),
                   QStringLiteral("No interface %1 at %2").arg(message.interface(), m_path));
        return;
    }
    const QString member = message.member();
    const QString signature = message.signature();
    const QVariantList args = message.arguments();
    const auto expect = [&](const char* wanted) {
        if (signature == QLatin1String(wanted))
            return true;
        replyError(message, connection, QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                   QStringLiteral("%1 takes (%2), not (%3)").arg(member, QLatin1String(wanted), signature));
        return false;
    };
    const auto unknownId = [&](int id) {
        replyError(message, connection, kUnknownId, QStringLiteral("No menu item %1").arg(id));
    };

    if (member == QLatin1String("GetLayout")) {
        if (!expect("iias"))
            return;
        const int id = args.at(0).toInt();
        if (!isKnownId(id))
            return unknownId(id);
        const MenuLayoutItem tree = layout(id, args.at(1).toInt(), args.at(2).toStringList());
        connection.send(message.createReply({QVariant::fromValue(m_revision), QVariant::fromValue(tree)}));
    } else if (member == QLatin1String("GetGroupProperties")) {
        if (!expect("aias"))
            return;
        const QList<int> ids = qdbus_cast<QList<int>>(args.at(0));
        const QStringList names = args.at(1).toStringList();
        MenuItemPropertiesList result;
        for (int id : ids) {
            if (isKnownId(id))
                result.append({id, only(properties(id), names)});
        }
        connection.send(message.createReply(QVariant::fromValue(result)));
    } else if (member == QLatin1String("GetProperty")) {
        if (!expect("is"))
            return;
        const int id = args.at(0).toInt();
        if (!isKnownId(id))
            return unknownId(id);
        const QVariantMap p = properties(id);
        const auto it = p.constFind(args.at(1).toString());
        if (it == p.constEnd()) {
            replyError(message, connection, QStringLiteral("com.canonical.dbusmenu.Error.UnknownProperty"),
                       QStringLiteral("Item %1 has no property %2").arg(id).arg(args.at(1).toString()));
            return;
        }
        connection.send(message.createReply(QVariant::fromValue(QDBusVariant(it.value()))));
    } else if (member == QLatin1String("Event")) {
        if (!expect("isvu"))
            return;
        const int id = args.at(0).toInt();
        if (!isKnownId(id))
            return unknownId(id);
        connection.send(message.createReply());
        handleEvent(id, args.at(1).toString());
    } else if (member == QLatin1String("EventGroup")) {
        if (!expect("a(isvu)"))
            return;
        const MenuEventList events = qdbus_cast<MenuEventList>(args.at(0));
        QList<int> idErrors;
        for (const MenuEvent& e : events) {
            if (!isKnownId(e.id))
                idErrors << e.id;
        }
        connection.send(message.createReply(QVariant::fromValue(idErrors)));
        for (const MenuEvent& e : events) {
            if (isKnownId(e.id))
                handleEvent(e.id, e.eventId);
        }
    } else if (member == QLatin1String("AboutToShow")) {
        if (!expect("i"))
            return;
        const int id = args.at(0).toInt();
        if (!isKnownId(id))
            return unknownId(id);
        const bool needUpdate = aboutToShow(id);
        connection.send(message.createReply(QVariant(needUpdate)));
    } else if (member == QLatin1String("AboutToShowGroup")) {
        if (!expect("ai"))
            return;
        QList<int> updatesNeeded;
        QList<int> idErrors;
        for (int id : qdbus_cast<QList<int>>(args.at(0))) {
            if (!isKnownId(id))
                idErrors << id;
            else if (aboutToShow(id))
                updatesNeeded << id;
        }
        connection.send(
            message.createReply({QVariant::fromValue(updatesNeeded), QVariant::fromValue(idErrors)}));
    } else {
        replyError(message, connection, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                   QStringLiteral("No method %1 in %2").arg(member, kInterface));
    }
}

QString DBusMenuExporter::introspect(const QString&) const {
    return QStringLiteral(R"xml(  <interface name="com.canonical.dbusmenu">
    <property name="Version" type="u" access="read"/>
    <property name="TextDirection" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconThemePath" type="as" access="read"/>
    <method name="GetLayout">
      <arg type="i" name="parentId" direction="in"/>
      <arg type="i" name="recursionDepth" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="u" name="revision" direction="out"/>
      <arg type="(ia{sv}av)" name="layout" direction="out"/>
    </method>
    <method name="GetGroupProperties">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="a(ia{sv})" name="properties" direction="out"/>
    </method>
    <method name="GetProperty">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="name" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <method name="Event">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="eventId" direction="in"/>
      <arg type="v" name="data" direction="in"/>
      <arg type="u" name="timestamp" direction="in"/>
    </method>
    <method name="EventGroup">
      <arg type="a(isvu)" name="events" direction="in"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <method name="AboutToShow">
      <arg type="i" name="id" direction="in"/>
      <arg type="b" name="needUpdate" direction="out"/>
    </method>
    <method name="AboutToShowGroup">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="ai" name="updatesNeeded" direction="out"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <signal name="ItemsPropertiesUpdated">
      <arg type="a(ia{sv})" name="updatedProps" direction="out"/>
      <arg type="a(ias)" name="removedProps" direction="out"/>
    </signal>
    <signal name="LayoutUpdated">
      <arg type="u" name="revision" direction="out"/>
      <arg type="i" name="parent" direction="out"/>
    </signal>
    <signal name="ItemActivationRequested">
      <arg type="i" name="id" direction="out"/>
      <arg type="u" name="timestamp" direction="out"/>
    </signal>
  </interface>
)xml");
}

} // namespace glimra::tray
