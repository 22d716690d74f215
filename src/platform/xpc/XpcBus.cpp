#include "xpc/XpcBus.h"

#include "Log.h"
#include "dispatch/PostedJob.h"
#include "xpc/XpcWire.h"

#include <QCoreApplication>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QThread>

#include <algorithm>
#include <climits>
#include <future>
#include <mutex>

namespace xpc {
namespace {

const QString kPath = QStringLiteral("/xpc");
const QString kListener = QStringLiteral("app.glimra.xpc.Listener");
const QString kPeer = QStringLiteral("app.glimra.xpc.Peer");
const QString kInvalid = QString::fromLatin1(XPC_DBUS_ERROR_CONNECTION_INVALID);
const QString kInterrupted = QString::fromLatin1(XPC_DBUS_ERROR_CONNECTION_INTERRUPTED);
const QString kTooLarge = QStringLiteral("app.glimra.xpc.Error.MessageTooLarge");
const QString kInvalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
const QString kUnknownMethod = QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod");

// XPC waits for a reply as long as the connection lives; so do we (libdbus's infinite timeout).
constexpr int kNoTimeout = INT_MAX;

const char* const kIntrospection = R"(  <interface name="app.glimra.xpc.Peer">
    <method name="Receive">
      <arg name="connection" type="t" direction="in"/>
      <arg name="message" type="a{sv}" direction="in"/>
    </method>
    <method name="ReceiveWithReply">
      <arg name="connection" type="t" direction="in"/>
      <arg name="message" type="a{sv}" direction="in"/>
      <arg name="reply" type="a{sv}" direction="out"/>
    </method>
  </interface>
)";

const QStringList& peerMembers() {
    static const QStringList members{"Receive", "ReceiveWithReply"};
    return members;
}

QDBusMessage methodCall(const QString& destination, const QString& interface, const QString& member,
                        const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(destination, kPath, interface, member);
    call.setAutoStartService(false);
    call.setArguments(arguments);
    return call;
}

} // namespace

BusAgent::BusAgent() : bus_(QDBusConnection::sessionBus()), watcher_(new QDBusServiceWatcher(this)) {
    watcher_->setConnection(bus_);
    watcher_->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this,
                     [this](const QString& name) { nameVanished(name); });
}

BusAgent::~BusAgent() = default;

bool BusAgent::event(QEvent* event) {
    return dispatch::runPostedJob(event) || QDBusVirtualObject::event(event);
}

QString BusAgent::introspect(const QString&) const {
    return QString::fromLatin1(kIntrospection);
}

bool BusAgent::handleMessage(const QDBusMessage& message, const QDBusConnection&) {
    if (message.path() != kPath)
        return false;
    const QString interface = message.interface();
    const QString member = message.member();
    if (interface == kPeer || (interface.isEmpty() && peerMembers().contains(member)))
        handlePeerCall(message);
    else if (interface == kListener)
        replyError(message, kInvalid, "No service listens here"); // the listener has a connection of its own
    else
        return false; // introspection and friends are QtDBus's
    return true;
}

void BusAgent::replyError(const QDBusMessage& message, const QString& name, const QString& text) {
    if (message.isReplyRequired())
        bus_.send(message.createErrorReply(name, text));
}

void BusAgent::handlePeerCall(const QDBusMessage& message) {
    const QString member = message.member();
    if (!peerMembers().contains(member)) {
        replyError(message, kUnknownMethod, "No method " + member + " in " + kPeer);
        return;
    }
    if (message.signature() != "ta{sv}") {
        replyError(message, kInvalidArgs,
                   QString("%1 takes (ta{sv}), not (%2)").arg(member, message.signature()));
        return;
    }
    const uint64_t id = message.arguments().value(0).toULongLong();
    for (auto& [key, link] : links_) {
        if (link.connection->kind() == Connection::Kind::Client && link.state == Link::State::Open &&
            link.id == id && link.remote == message.service()) {
            deliverMessage(link, message, member == "ReceiveWithReply");
            return;
        }
    }
    replyError(message, kInvalid, QString("No open connection %1 to %2").arg(id).arg(message.service()));
}

BusAgent::Link* BusAgent::findLink(const Connection* key, const std::weak_ptr<Connection>& expected) {
    const auto it = links_.find(key);
    // The address alone could belong to a newer connection.
    if (it == links_.end() || it->second.connection != expected.lock())
        return nullptr;
    return &it->second;
}

void BusAgent::deliverMessage(Link& link, const QDBusMessage& message, bool withReply) {
    auto dictionary = std::make_shared<Dictionary>();
    wire::decode(message.arguments().value(1), *dictionary);
    dictionary->remoteConnection = link.connection;
    if (withReply && message.isReplyRequired()) {
        message.setDelayedReply(true);
        auto context = std::make_shared<ReplyContext>();
        context->request = message;
        context->connection = link.connection;
        dictionary->awaitingReply = std::make_shared<ReplyTicket>(context, nullptr);
        link.unanswered.push_back(std::move(context));
    } else if (message.isReplyRequired()) {
        bus_.send(message.createReply());
    }
    link.connection->deliver(std::move(dictionary));
}

bool BusAgent::startListener(const std::shared_ptr<Connection>& listener) {
    if (service_) {
        NSLog("xpc: this process already listens as %s; no second listener for %s",
              service_->listener()->name(), listener->name());
        return false;
    }
    // Learnt on any thread, acted on here.
    service_ = Service::start(listener, [](const std::shared_ptr<ReplyContext>& context) {
        bus::post([context](BusAgent& agent) {
            if (agent.service_)
                agent.service_->abandoned(context);
        });
    });
    return service_ != nullptr;
}

void BusAgent::requirePeerBusName(const std::shared_ptr<Connection>& listener, const QString& name) {
    if (service_ && service_->listener() == listener)
        service_->requirePeerBusName(name);
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
        const QDBusMessage reply = watcher->reply();
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
    });
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

void BusAgent::answer(const std::shared_ptr<ReplyContext>& context, std::optional<QVariantMap> reply) {
    if (context->serial != 0) {
        if (service_)
            service_->answer(context, reply);
        return;
    }
    // A reply after its connection ended is dropped, as the request was already failed then.
    if (context->answered)
        return;
    context->answered = true;
    if (std::shared_ptr<Connection> connection = context->connection.lock())
        if (Link* link = findLink(connection.get(), connection))
            std::erase(link->unanswered, context);
    if (reply)
        bus_.send(context->request.createReply(QVariant::fromValue(*reply)));
    else
        bus_.send(context->request.createErrorReply(kTooLarge, "The reply was too large for the bus"));
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

void BusAgent::shutdown() {
    bus_.unregisterObject(kPath);
    links_.clear();
    service_.reset(); // requests still waiting fail as interrupted
}

namespace bus {
namespace {

struct Host {
    QThread thread;
    std::unique_ptr<BusAgent> agent; // destroyed before the thread object
    bool fdPassing = false;
};

struct HostSlot {
    std::mutex mutex;
    std::unique_ptr<Host> host;
    bool stopped = false; // the application object is gone: no bus any more

    // Only reached with a host when the process exits without destroying its application object
    // (exit() from a handler): stop the thread, and leave the rest to the exiting process, since the
    // bus connection it refers to may be gone already.
    ~HostSlot() {
        if (!host)
            return;
        host->thread.quit();
        host->thread.wait();
        (void)host.release();
    }
};

HostSlot& slot() {
    static HostSlot instance;
    return instance;
}

// Runs fn on the bus thread and waits for it.
void runBlocking(BusAgent* agent, const std::function<void()>& fn) {
    std::promise<void> done;
    dispatch::postJob(agent, [&] {
        fn();
        done.set_value();
    });
    done.get_future().wait();
}

void stopHost() {
    std::unique_ptr<Host> host;
    {
        std::lock_guard lock(slot().mutex);
        host = std::move(slot().host);
        slot().stopped = true;
    }
    if (!host)
        return;
    BusAgent* agent = host->agent.get();
    runBlocking(agent, [agent] { agent->shutdown(); });
    host->thread.quit();
    host->thread.wait();
}

// Called with the slot locked.
Host* ensureHost() {
    HostSlot& s = slot();
    if (s.host || s.stopped)
        return s.host.get();
    if (!QCoreApplication::instance()) {
        NSLog("xpc: no application object, so no bus");
        return nullptr;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        NSLog("xpc: no session bus: %@", bus.lastError().message());
        return nullptr;
    }
    auto host = std::make_unique<Host>();
    host->fdPassing = bus.connectionCapabilities().testFlag(QDBusConnection::UnixFileDescriptorPassing);
    if (!host->fdPassing)
        NSLog("xpc: the session bus cannot pass file descriptors; large data travels inline");
    host->agent = std::make_unique<BusAgent>();
    host->thread.setObjectName("xpc-bus");
    host->agent->moveToThread(&host->thread);
    host->thread.start();
    BusAgent* agent = host->agent.get();
    bool registered = false;
    runBlocking(agent, [&] { registered = bus.registerVirtualObject(kPath, agent); });
    if (!registered)
        NSLog("xpc: the object path /xpc is already taken in this process");
    qAddPostRoutine(stopHost);
    s.host = std::move(host);
    return s.host.get();
}

} // namespace

bool post(std::function<void(BusAgent&)> job) {
    std::lock_guard lock(slot().mutex);
    Host* host = ensureHost();
    if (!host)
        return false;
    BusAgent* agent = host->agent.get();
    dispatch::postJob(agent, [agent, job = std::move(job)] { job(*agent); });
    return true;
}

bool run(const std::function<void(BusAgent&)>& job) {
    BusAgent* agent = nullptr;
    {
        std::lock_guard lock(slot().mutex);
        Host* host = ensureHost();
        if (!host)
            return false;
        agent = host->agent.get();
    }
    // Not under the lock: the job may take a while (a blocking bus call), and other threads may post
    // meanwhile. The host is only stopped as the application object goes away.
    runBlocking(agent, [agent, &job] { job(*agent); });
    return true;
}

bool fdPassing() {
    std::lock_guard lock(slot().mutex);
    Host* host = ensureHost();
    return host && host->fdPassing;
}

} // namespace bus
} // namespace xpc
