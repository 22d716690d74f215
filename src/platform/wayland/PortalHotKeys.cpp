#include "wayland/PortalHotKeys.h"

#include "hotkeys/HotKeyNames.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QLoggingCategory>
#include <QPointer>
#include <QStringList>

Q_DECLARE_LOGGING_CATEGORY(lcHotKeys)

using PortalShortcut = QPair<QString, QVariantMap>;
using PortalShortcuts = QList<PortalShortcut>;
Q_DECLARE_METATYPE(PortalShortcuts)

namespace glimra::wayland {

using namespace carbon;

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
// The same token every time: KDE Plasma keeps the user's choice of triggers under the session's name.
const QString kSessionToken = QStringLiteral("glimra_helper");

// With what the user can do instead: GNOME before 48 has the portal but not this interface.
void hotKeysOff(const QString& why) {
    qCWarning(lcHotKeys,
              "Hot keys are off: %s. The desktop's keyboard settings can bind the helper's actions as "
              "custom shortcuts instead (gapplication action app.glimra.GlimraHelper capture-region, ...)",
              qPrintable(why));
}

// A path of the portal's answers, which some portals send as a string and some as an object path.
QString pathOf(const QVariant& value) {
    return value.canConvert<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path() : value.toString();
}

PortalShortcuts shortcutsOf(const QVariant& value) {
    PortalShortcuts shortcuts;
    if (value.canConvert<QDBusArgument>())
        value.value<QDBusArgument>() >> shortcuts;
    return shortcuts;
}

} // namespace

PortalHotKeys::PortalHotKeys(PortalHotKeysOptions options) : m_options(std::move(options)) {
    setObjectName(QStringLiteral("the desktop portal's global shortcuts"));
    m_sessionLater.setSingleShot(true);
    m_sessionLater.setInterval(0);
    connect(&m_sessionLater, &QTimer::timeout, this, &PortalHotKeys::createSession);
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<PortalShortcuts>();
    QDBusConnection bus = QDBusConnection::sessionBus();
    for (const char* signal : {"Activated", "Deactivated", "ShortcutsChanged"})
        bus.connect(m_options.service, kPortalPath, kInterface, QLatin1String(signal), this,
                    SLOT(portalSignal(QDBusMessage)));
}

PortalHotKeys::~PortalHotKeys() {
    closeSession();
}

OSStatus PortalHotKeys::add(Token token, UInt32 keyCode, UInt32 modifiers, EventHotKeyID id) {
    const hotkeys::HotKeyAction action = hotkeys::hotKeyAction(id, keyCode, modifiers);
    m_shortcuts[token] = {action.name, action.description,
                          hotkeys::portalTrigger(keyCode, modifiers, m_options.shiftedSymbols)};
    m_sessionLater.start();
    return noErr;
}

void PortalHotKeys::remove(Token token) {
    if (m_shortcuts.erase(token))
        m_sessionLater.start();
}

QVariant PortalHotKeys::shortcutList() const {
    PortalShortcuts list;
    for (const auto& [token, shortcut] : m_shortcuts)
        list.append({shortcut.id,
                     {{QStringLiteral("description"), shortcut.description},
                      {QStringLiteral("preferred_trigger"), shortcut.trigger}}});
    return QVariant::fromValue(list);
}

void PortalHotKeys::createSession() {
    closeSession();
    const int generation = ++m_generation;
    if (m_shortcuts.empty())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!m_registered) {
        m_registered = true;
        // Portals before 1.19 know no registry; their error is of no interest.
        bus.asyncCall(QDBusMessage::createMethodCall(m_options.service, kPortalPath,
                                                     QStringLiteral("org.freedesktop.host.portal.Registry"),
                                                     QStringLiteral("Register"))
                      << m_options.applicationId << QVariantMap());
    }
    QPointer<PortalHotKeys> self(this);
    auto* request = new PortalRequest( // owns itself
        QDBusMessage::createMethodCall(m_options.service, kPortalPath, kInterface,
                                       QStringLiteral("CreateSession")),
        {{QStringLiteral("session_handle_token"), kSessionToken},
         {QStringLiteral("shortcuts"), shortcutList()}},
        QStringLiteral("CreateSession call"), m_options.sessionTimeout,
        [self, generation](std::optional<PortalResponse> answer) {
            if (!self || generation != self->m_generation)
                return;
            if (!answer)
                hotKeysOff(QStringLiteral("the desktop portal made no session for them"));
            else
                self->sessionCreated(*answer);
        });
    request->start();
}

void PortalHotKeys::closeSession() {
    if (m_session.isEmpty())
        return;
    // The portal closes it too when the process leaves the bus.
    QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
        m_options.service, m_session, QStringLiteral("org.freedesktop.portal.Session"),
        QStringLiteral("Close")));
    m_session.clear();
}

void PortalHotKeys::sessionCreated(const PortalResponse& answer) {
    m_session = pathOf(answer.results.value(QStringLiteral("session_handle")));
    if (answer.code != 0 || m_session.isEmpty()) {
        hotKeysOff(
            QStringLiteral("the desktop portal refused a session for them (response %1)").arg(answer.code));
        return;
    }
    // Bound already (KDE Plasma 5): BindShortcuts would only open the desktop's settings there.
    const PortalShortcuts bound = shortcutsOf(answer.results.value(QStringLiteral("shortcuts")));
    const bool all = std::all_of(m_shortcuts.begin(), m_shortcuts.end(), [&](const auto& entry) {
        return std::any_of(bound.begin(), bound.end(), [&](const PortalShortcut& s) {
            return s.first == entry.second.id &&
                   !s.second.value(QStringLiteral("trigger_description")).toString().isEmpty();
        });
    });
    if (all)
        return report(answer.results.value(QStringLiteral("shortcuts")), "with the session");

    const int generation = m_generation;
    QPointer<PortalHotKeys> self(this);
    QDBusMessage call = QDBusMessage::createMethodCall(m_options.service, kPortalPath, kInterface,
                                                       QStringLiteral("BindShortcuts"));
    call << QVariant::fromValue(QDBusObjectPath(m_session)) << shortcutList()
         << QString();                 // no parent window
    auto* request = new PortalRequest( // owns itself
        call, {}, QStringLiteral("BindShortcuts call"), m_options.bindTimeout,
        [self, generation](std::optional<PortalResponse> answer) {
            if (!self || generation != self->m_generation)
                return;
            if (!answer || answer->code != 0)
                hotKeysOff(QStringLiteral("the desktop bound none of them (%1)")
                               .arg(answer ? QStringLiteral("response %1").arg(answer->code)
                                           : QStringLiteral("no answer")));
            else
                self->report(answer->results.value(QStringLiteral("shortcuts")), "as asked");
        });
    request->start();
}

void PortalHotKeys::report(const QVariant& shortcuts, const char* when) {
    const PortalShortcuts bound = shortcutsOf(shortcuts);
    QStringList active;
    for (const auto& [token, shortcut] : m_shortcuts) {
        QString trigger;
        for (const PortalShortcut& s : bound)
            if (s.first == shortcut.id)
                trigger = s.second.value(QStringLiteral("trigger_description")).toString();
        if (trigger.isEmpty())
            qCWarning(lcHotKeys,
                      "Hot key \"%s\" (%s) has no trigger on this desktop: it stays off until one is "
                      "set in the desktop's shortcut settings",
                      qPrintable(shortcut.description), qPrintable(shortcut.trigger));
        else
            active << QStringLiteral("%1: %2").arg(shortcut.description, trigger);
    }
    if (!active.isEmpty())
        qCInfo(lcHotKeys, "Hot keys bound by the desktop %s: %s", when,
               qPrintable(active.join(QLatin1String("; "))));
}

void PortalHotKeys::portalSignal(const QDBusMessage& message) {
    const QList<QVariant> args = message.arguments();
    if (args.size() < 2 || m_session.isEmpty() || pathOf(args[0]) != m_session)
        return;
    if (message.member() == QLatin1String("ShortcutsChanged"))
        return report(args[1], "anew");
    const QString id = args[1].toString();
    for (const auto& [token, shortcut] : m_shortcuts)
        if (shortcut.id == id) {
            emit hotKey(token, message.member() == QLatin1String("Activated") ? kEventHotKeyPressed
                                                                              : kEventHotKeyReleased);
            return;
        }
}

} // namespace glimra::wayland
