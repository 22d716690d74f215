// Between the two sides of the bus thread: the listener's Service and the clients' connections.

#include "xpc/XpcBus.h"

#include "Log.h"
#include "xpc/XpcNames.h"

namespace xpc {

bool BusAgent::startListener(const std::shared_ptr<Connection>& listener) {
    if (service_) {
        NSLog("xpc: this process already listens as %s; no second listener for %s",
              service_->listener()->name(), listener->name());
        return false;
    }
    // Learnt on any thread, acted on here.
    service_ = Service::start(
        listener,
        [](const std::shared_ptr<ReplyContext>& context) {
            bus::post([context](BusAgent& agent) {
                if (agent.service_)
                    agent.service_->abandoned(context);
            });
        },
        application_);
    return service_ != nullptr;
}

void BusAgent::setApplicationActions(ApplicationActions actions) {
    application_ = std::make_shared<const ApplicationObject>(std::move(actions));
    if (service_)
        service_->setApplication(application_);
}

void BusAgent::requirePeerBusName(const std::shared_ptr<Connection>& listener, const QString& name) {
    if (service_ && service_->listener() == listener)
        service_->requirePeerBusName(name);
}

void BusAgent::send(const std::shared_ptr<Connection>& connection, QVariantMap message,
                    std::shared_ptr<PendingReply> reply) {
    if (connection->kind() == Connection::Kind::Peer) {
        if (service_)
            service_->send(connection, message, reply);
        else if (reply)
            reply->complete(XPC_ERROR_CONNECTION_INVALID);
        return;
    }
    Link* link = findLink(connection.get(), connection);
    if (!link) {
        if (connection->kind() == Connection::Kind::Listener)
            NSLog("xpc: a message cannot be sent on the listener %s", connection->name());
        if (reply)
            reply->complete(XPC_ERROR_CONNECTION_INVALID);
        return;
    }
    if (reply)
        link->pending.push_back(reply);
    if (link->state == Link::State::Open) {
        sendOnLink(*link, message, reply);
        return;
    }
    link->waiting.push_back(
        [this, message = std::move(message), reply](Link& link) { sendOnLink(link, message, reply); });
    if (link->state == Link::State::Idle && link->connection->isResumed())
        connectClient(*link);
}

void BusAgent::cancel(const std::shared_ptr<Connection>& connection) {
    if (connection->kind() == Connection::Kind::Listener) {
        if (service_ && service_->listener() == connection)
            service_.reset();
        connection->deliver(XPC_ERROR_CONNECTION_INVALID);
        return;
    }
    if (connection->kind() == Connection::Kind::Peer) {
        if (service_)
            service_->cancel(connection);
        else
            connection->deliver(XPC_ERROR_CONNECTION_INVALID);
        return;
    }
    if (findLink(connection.get(), connection))
        endLink(connection.get(), true);
    else
        connection->deliver(XPC_ERROR_CONNECTION_INVALID);
}

void BusAgent::shutdown() {
    bus_.unregisterObject(names::kPath);
    links_.clear();
    service_.reset(); // requests still waiting fail as interrupted
}

} // namespace xpc
