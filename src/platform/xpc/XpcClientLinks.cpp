// The clients' connections to services: connecting, sending, and their end when either side
// cancels or the service leaves the bus.

#include "xpc/XpcBus.h"

#include "Log.h"
#include "xpc/XpcNames.h"
#include "xpc/XpcWire.h"

#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>

#include <algorithm>
#include <climits>

namespace xpc {

using namespace names;

namespace {

// XPC waits for a reply as long as the connection lives; so do we (libdbus's infinite timeout).
constexpr int kNoTimeout = INT_MAX;

QDBusMessage methodCall(const QString& destination, const QString& interface, const QString& member,
                        const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(destination, kPath, interface, member);
    call.setAutoStartService(false);
    call.setArguments(arguments);
    return call;
}

} // namespace

BusAgent::Link* BusAgent::findLink(const Connection* key, const std::weak_ptr<Connection>& expected) {
    const auto it = links_.find(key);
    // The address alone could belong to a newer connection.
    if (it == links_.end() || it->second.connection != expected.lock())
        return nullptr;
    return &it->second;
}

void BusAgent::addClient(std::shared_ptr<Connection> client) {
    Link& link = links_[client.get()];
    link.connection = std::move(client);
}

void BusAgent::resumeClient(const std::shared_ptr<Connection>& client) {
    Link* link = findLink(client.get(), client);
    if (link && link->state == Link::State::Idle)
        connectClient(*link);
}

void BusAgent::connectClient(Link& link) {
    link.state = Link::State::Connecting;
    const QString service = QString::fromStdString(link.connection->name());
    auto* watcher = new QDBusPendingCallWatcher(
        bus_.asyncCall(methodCall(service, kListener, "Connect", {}), kNoTimeout), this);
    const Connection* key = link.connection.get();
    std::weak_ptr<Connection> weak = link.connection;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, key, weak, watcher, service] {
        watcher->deleteLater();
        openClient(key, weak, watcher->reply(), service);
        retryEarlyCalls();
    });
}

void BusAgent::openClient(const Connection* key, const std::weak_ptr<Connection>& weak,
                          const QDBusMessage& reply, const QString& service) {
    const bool connected = reply.type() == QDBusMessage::ReplyMessage && reply.signature() == "t";
    Link* link = findLink(key, weak);
    if (!link || link->state != Link::State::Connecting) {
        // Cancelled meanwhile: the service's side of it is not wanted either.
        if (connected)
            bus_.send(methodCall(reply.service(), kListener, "Cancel", {reply.arguments().at(0)}));
        return;
    }
    if (!connected) {
        NSLog("xpc: cannot connect to %@: %@", service,
              reply.type() == QDBusMessage::ErrorMessage ? reply.errorMessage() : "unexpected reply");
        endLink(key, false);
        return;
    }
    link->id = reply.arguments().at(0).toULongLong();
    link->remote = reply.service();
    link->state = Link::State::Open;
    link->watching = true;
    watch(link->remote);
    auto waiting = std::move(link->waiting);
    link->waiting.clear();
    for (auto& job : waiting) {
        link = findLink(key, weak);
        if (!link || link->state != Link::State::Open)
            break;
        job(*link);
    }
}

void BusAgent::sendOnLink(Link& link, const QVariantMap& message,
                          const std::shared_ptr<PendingReply>& reply) {
    const QVariantList arguments{QVariant::fromValue<qulonglong>(link.id), QVariant::fromValue(message)};
    const QDBusMessage call = methodCall(link.remote, kListener, reply ? "SendWithReply" : "Send", arguments);
    // A client waits even for Send's empty return: its error is how a connection the service has
    // forgotten (cancelled on that side) is noticed.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kNoTimeout), this);
    const Connection* key = link.connection.get();
    std::weak_ptr<Connection> weak = link.connection;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, key, weak, watcher, reply] {
        watcher->deleteLater();
        const QDBusMessage answer = watcher->reply();
        Link* link = findLink(key, weak);
        if (link && reply)
            std::erase(link->pending, reply);
        if (answer.type() != QDBusMessage::ReplyMessage) {
            const bool invalid = answer.errorName() == kInvalid;
            if (reply)
                reply->complete(invalid ? XPC_ERROR_CONNECTION_INVALID : XPC_ERROR_CONNECTION_INTERRUPTED);
            if (invalid && link)
                endLink(key, false);
            return;
        }
        if (!reply)
            return;
        if (answer.signature() != "a{sv}") {
            NSLog("xpc: a reply of D-Bus type (%@) is not a dictionary", answer.signature());
            reply->complete(XPC_ERROR_CONNECTION_INTERRUPTED);
            return;
        }
        auto dictionary = std::make_shared<Dictionary>();
        wire::decode(answer.arguments().value(0), *dictionary);
        dictionary->remoteConnection = weak.lock();
        reply->complete(std::move(dictionary));
    });
}

void BusAgent::endLink(const Connection* key, bool tellService) {
    const auto it = links_.find(key);
    if (it == links_.end())
        return;
    Link link = std::move(it->second);
    links_.erase(it);
    if (link.watching)
        unwatch(link.remote);
    if (tellService && link.state == Link::State::Open)
        bus_.send(methodCall(link.remote, kListener, "Cancel", {QVariant::fromValue<qulonglong>(link.id)}));
    failRequests(link, XPC_ERROR_CONNECTION_INVALID);
    link.connection->deliver(XPC_ERROR_CONNECTION_INVALID);
}

void BusAgent::interruptClient(Link& link) {
    if (link.watching)
        unwatch(link.remote);
    link.watching = false;
    link.remote.clear();
    link.id = 0;
    link.state = Link::State::Idle;
    failRequests(link, XPC_ERROR_CONNECTION_INTERRUPTED);
    link.connection->deliver(XPC_ERROR_CONNECTION_INTERRUPTED);
}

void BusAgent::failRequests(Link& link, const xpc_object_t& error) {
    for (const auto& context : link.unanswered) {
        if (context->answered)
            continue;
        context->answered = true;
        bus_.send(context->request.createErrorReply(kInterrupted, "The connection ended before the reply"));
    }
    link.unanswered.clear();
    for (const auto& reply : link.pending)
        reply->complete(error);
    link.pending.clear();
    link.waiting.clear();
}

void BusAgent::nameVanished(const QString& name) {
    for (auto& [key, link] : links_)
        if (link.watching && link.remote == name)
            interruptClient(link);
}

void BusAgent::watch(const QString& name) {
    if (watched_[name]++ > 0)
        return;
    watcher_->addWatchedService(name);
    // The name may have left before the watch was in place.
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                       "org.freedesktop.DBus", "NameHasOwner");
    call.setArguments({name});
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, name] {
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().value(0).toBool())
            nameVanished(name);
    });
}

void BusAgent::unwatch(const QString& name) {
    const auto it = watched_.find(name);
    if (it == watched_.end() || --it->second > 0)
        return;
    watched_.erase(it);
    watcher_->removeWatchedService(name);
}

} // namespace xpc
