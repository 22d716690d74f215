#include "FakeShortcutsPortal.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDateTime>
#include <QTimer>

namespace glimra::test {

namespace {

using Shortcuts = QList<QPair<QString, QVariantMap>>;

const QString kPath = "/org/freedesktop/portal/desktop";
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

// Where the portal puts a caller's request or session: PATH/SENDER/TOKEN.
QString objectFor(const QDBusMessage& call, const QString& kind, const QString& token) {
    QString sender = call.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    return kPath + QLatin1Char('/') + kind + QLatin1Char('/') + sender + QLatin1Char('/') + token;
}

std::vector<FakeShortcutsPortal::Shortcut> parse(const QVariant& value) {
    std::vector<FakeShortcutsPortal::Shortcut> out;
    for (const auto& [id, info] : qdbus_cast<Shortcuts>(value))
        out.push_back({id, info.value("description").toString(), info.value("preferred_trigger").toString()});
    return out;
}

} // namespace

FakeShortcutsPortal::FakeShortcutsPortal(const QString& service, Behaviour behaviour)
    : behaviour_(behaviour) {
    qDBusRegisterMetaType<QPair<QString, QVariantMap>>();
    qDBusRegisterMetaType<Shortcuts>();
    ok_ = bus_.connection().registerVirtualObject(kPath, this, QDBusConnection::SubPath) &&
          bus_.ownName(service);
}

QString FakeShortcutsPortal::introspect(const QString&) const {
    return QString();
}

bool FakeShortcutsPortal::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    const QList<QVariant> args = message.arguments();
    const QString member = message.member();
    if (message.interface() == QLatin1String("org.freedesktop.portal.Session")) {
        connection.send(message.createReply());
        return true;
    }
    // The documented portal binds what BindShortcuts asks for; KDE Plasma 5.27 what the session was
    // made with, which it lists in every answer.
    const auto bound = [this] {
        Shortcuts list;
        for (const Shortcut& s : offered)
            list.append({s.id, {{"trigger_description", s.trigger}}});
        return QVariant::fromValue(list);
    };
    if (member == QLatin1String("CreateSession") && args.size() == 1) {
        ++createSessionCalls;
        const QVariantMap options = qdbus_cast<QVariantMap>(args[0]);
        session = objectFor(message, "session", options.value("session_handle_token").toString());
        QVariantMap results{{QStringLiteral("session_handle"), session}};
        if (behaviour_ == Behaviour::BindsAtCreateSession) {
            offered = parse(options.value(QStringLiteral("shortcuts")));
            results.insert(QStringLiteral("shortcuts"), bound());
        }
        answer(message, connection, options, results);
        return true;
    }
    if (member == QLatin1String("BindShortcuts") && args.size() == 4) {
        ++bindShortcutsCalls;
        if (behaviour_ == Behaviour::Documented)
            offered = parse(args[1]);
        const QVariantMap options = qdbus_cast<QVariantMap>(args[3]);
        answer(message, connection, options, {{QStringLiteral("shortcuts"), bound()}});
        return true;
    }
    connection.send(message.createErrorReply(QDBusError::UnknownMethod, member));
    return true;
}

void FakeShortcutsPortal::answer(const QDBusMessage& call, const QDBusConnection& connection,
                                 const QVariantMap& options, const QVariantMap& results) {
    const QString request = objectFor(call, "request", options.value("handle_token").toString());
    connection.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
    if (behaviour_ != Behaviour::Silent)
        // After the call's reply, as a portal answers.
        QTimer::singleShot(20, this, [this, request, results] {
            QDBusMessage response = QDBusMessage::createSignal(
                request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
            response << 0u << results;
            bus_.connection().send(response);
        });
}

void FakeShortcutsPortal::emitSignal(const QString& member, const QString& id, const QString& forSession) {
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, member);
    signal << QVariant::fromValue(QDBusObjectPath(forSession.isEmpty() ? session : forSession)) << id
           << qulonglong(QDateTime::currentMSecsSinceEpoch()) << QVariantMap();
    bus_.connection().send(signal);
}

void FakeShortcutsPortal::press(const QString& id, const QString& forSession) {
    emitSignal(QStringLiteral("Activated"), id, forSession);
    emitSignal(QStringLiteral("Deactivated"), id, forSession);
}

} // namespace glimra::test
