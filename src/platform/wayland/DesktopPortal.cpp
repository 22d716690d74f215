#include "wayland/DesktopPortal.h"

#include "wayland/WaylandConnection.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QRandomGenerator>

namespace glimra::wayland {

bool portalOffered(const QString& service) {
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (!bus)
        return false;
    if (bus->isServiceRegistered(service))
        return true;
    const QDBusReply<QStringList> activatable = bus->call(QStringLiteral("ListActivatableNames"));
    return activatable.isValid() && activatable.value().contains(service);
}

namespace {

const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
// How long a request that timed out waits for a late answer.
constexpr std::chrono::minutes kLateAnswerWait{2};

// The request object the portal makes for a handle token: /org/freedesktop/portal/desktop/request/
// SENDER/TOKEN, SENDER the caller's unique name without its colon and with dots as underscores.
QString requestPath(const QString& token) {
    QString sender = QDBusConnection::sessionBus().baseService();
    sender.remove(0, 1).replace(QLatin1Char('.'), QLatin1Char('_'));
    return kPortalPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

} // namespace

PortalRequest::PortalRequest(QDBusMessage call, QVariantMap options, QString what,
                             std::chrono::milliseconds timeout, Finish finish, LateAnswer lateAnswer)
    : QObject(QCoreApplication::instance()), call_(std::move(call)), options_(std::move(options)),
      what_(std::move(what)), timeout_(timeout), finish_(std::move(finish)),
      lateAnswer_(std::move(lateAnswer)),
      token_(QStringLiteral("glimra%1").arg(QRandomGenerator::global()->generate())) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &PortalRequest::timedOut);
}

PortalRequest::~PortalRequest() {
    unsubscribe();
}

void PortalRequest::start() {
    // A portal that leaves the bus (it crashed, or its session ends) never answers: the call fails at
    // once rather than at the timeout.
    auto* watcher = new QDBusServiceWatcher(call_.service(), QDBusConnection::sessionBus(),
                                            QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        if (finished_)
            return;
        logLine(QStringLiteral("the desktop portal left the session bus during %1").arg(what_));
        end(std::nullopt);
    });
    // Subscribed before the call, so that an answer as fast as the call's reply is not missed.
    subscribe(requestPath(token_));
    options_.insert(QStringLiteral("handle_token"), token_);
    call_ << options_;
    auto* pending = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(call_, int(timeout_.count())), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (finished_)
            return;
        if (reply.isError()) {
            logLine(QStringLiteral("the desktop portal's %1 failed: %2").arg(what_, reply.error().message()));
            end(std::nullopt);
            return;
        }
        // Portals older than the handle token answer with a path of their own.
        if (const QString path = reply.value().path(); path != path_) {
            unsubscribe();
            subscribe(path);
        }
    });
    timer_.start(timeout_);
}

void PortalRequest::subscribe(const QString& path) {
    path_ = path;
    QDBusConnection::sessionBus().connect(call_.service(), path_, kRequestInterface,
                                          QStringLiteral("Response"), this,
                                          SLOT(response(uint, QVariantMap)));
}

void PortalRequest::unsubscribe() {
    if (path_.isEmpty())
        return;
    QDBusConnection::sessionBus().disconnect(call_.service(), path_, kRequestInterface,
                                             QStringLiteral("Response"), this,
                                             SLOT(response(uint, QVariantMap)));
    path_.clear();
}

void PortalRequest::response(uint code, const QVariantMap& results) {
    if (!finished_)
        return end(PortalResponse{code, results});
    logLine(QStringLiteral("a late answer of the desktop portal to %1 was ignored").arg(what_));
    if (lateAnswer_)
        lateAnswer_(PortalResponse{code, results});
    unsubscribe();
    deleteLater();
}

void PortalRequest::timedOut() {
    logLine(
        QStringLiteral("the desktop portal did not answer %1 within %2 ms").arg(what_).arg(timeout_.count()));
    finished_ = true;
    Finish finish = std::move(finish_);
    // Waits on for a late answer, which may hold something to clean up.
    QTimer::singleShot(kLateAnswerWait, this, &QObject::deleteLater);
    finish(std::nullopt);
}

void PortalRequest::end(std::optional<PortalResponse> answer) {
    if (finished_)
        return;
    finished_ = true;
    timer_.stop();
    unsubscribe();
    Finish finish = std::move(finish_);
    deleteLater();
    finish(std::move(answer));
}

} // namespace glimra::wayland
