#include "xpc/XpcService.h"

#include "Log.h"
#include "xpc/XpcDBusWire.h"

#include <algorithm>
#include <cstring>
#include <malloc.h>

namespace xpc {
namespace {

const char* const kPath = "/xpc";
const char* const kListener = "app.glimra.xpc.Listener";
const char* const kPeer = "app.glimra.xpc.Peer";
const char* const kBusName = "org.freedesktop.DBus";
const char* const kTooLarge = "app.glimra.xpc.Error.MessageTooLarge";

// Work counts a call or an ended connection as one unit, and 64 KiB of data received as another; this
// much since the last trim makes a storm. The main application's own traffic takes hours to get there.
constexpr size_t kStormWork = 1000;
constexpr size_t kDataPerUnit = 64 << 10;
// How long the bus stays quiet before the heap is trimmed.
constexpr int kQuietMs = 3000;

// The object's own interfaces, as introspection shows them.
const char* const kInterfaces = R"(  <interface name="app.glimra.xpc.Listener">
    <method name="Connect">
      <arg name="connection" type="t" direction="out"/>
    </method>
    <method name="Send">
      <arg name="connection" type="t" direction="in"/>
      <arg name="message" type="a{sv}" direction="in"/>
    </method>
    <method name="SendWithReply">
      <arg name="connection" type="t" direction="in"/>
      <arg name="message" type="a{sv}" direction="in"/>
      <arg name="reply" type="a{sv}" direction="out"/>
    </method>
    <method name="Cancel">
      <arg name="connection" type="t" direction="in"/>
    </method>
  </interface>
)";

bool is(const char* a, const char* b) {
    return a && b && std::strcmp(a, b) == 0;
}

QString string(const char* s) {
    return QString::fromUtf8(s ? s : "");
}

MessagePtr busCall(const char* member) {
    return MessagePtr(dbus_message_new_method_call(kBusName, "/org/freedesktop/DBus", kBusName, member));
}

} // namespace

std::unique_ptr<Service> Service::start(std::shared_ptr<Connection> listener,
                                        ReplyTicket::Abandoned onAbandoned,
                                        std::shared_ptr<const ApplicationObject> application) {
    const QString name = QString::fromStdString(listener->name());
    QString error;
    std::unique_ptr<ServiceConnection> bus = ServiceConnection::open(&error);
    if (!bus) {
        NSLog("xpc: no session bus for the listener %@: %@", name, error);
        return nullptr;
    }
    // Every client's departure ends its connections; the watch is in place before anyone can connect.
    MessagePtr match = busCall("AddMatch");
    const char* rule = "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
                       "interface='org.freedesktop.DBus',member='NameOwnerChanged'";
    dbus_message_append_args(match.get(), DBUS_TYPE_STRING, &rule, DBUS_TYPE_INVALID);
    if (!bus->callBlocking(match.get(), &error)) {
        NSLog("xpc: cannot watch the clients of %@: %@", name, error);
        return nullptr;
    }
    MessagePtr request = busCall("RequestName");
    const QByteArray utf8 = name.toUtf8();
    const char* n = utf8.constData();
    const dbus_uint32_t flags = DBUS_NAME_FLAG_DO_NOT_QUEUE;
    dbus_message_append_args(request.get(), DBUS_TYPE_STRING, &n, DBUS_TYPE_UINT32, &flags,
                             DBUS_TYPE_INVALID);
    MessagePtr reply = bus->callBlocking(request.get(), &error);
    if (!reply) {
        NSLog("xpc: cannot claim the bus name %@: %@", name, error);
        return nullptr;
    }
    dbus_uint32_t result = 0;
    dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_UINT32, &result, DBUS_TYPE_INVALID);
    if (result != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER)
        return nullptr; // another process listens: the caller decides what that means
    // Calls the bus queued for the name are only dispatched by a later turn of this thread's event
    // loop, when the constructor has put every handler in place.
    return std::unique_ptr<Service>(
        new Service(std::move(listener), std::move(bus), std::move(onAbandoned), std::move(application)));
}

Service::Service(std::shared_ptr<Connection> listener, std::unique_ptr<ServiceConnection> bus,
                 ReplyTicket::Abandoned onAbandoned, std::shared_ptr<const ApplicationObject> application)
    : listener_(std::move(listener)), bus_(std::move(bus)), onAbandoned_(std::move(onAbandoned)),
      application_(std::move(application)) {
    bus_->setHandler([this](DBusMessage* message) { return handle(message); });
    trimTimer_.setSingleShot(true);
    trimTimer_.setInterval(kQuietMs);
    QObject::connect(&trimTimer_, &QTimer::timeout, [this] {
        workSinceTrim_ = 0;
        malloc_trim(0);
    });
}

void Service::noteWork(size_t units) {
    workSinceTrim_ += units;
    // Every further piece of work puts the trim off until the storm is over.
    if (workSinceTrim_ >= kStormWork)
        trimTimer_.start();
}

Service::~Service() {
    std::vector<uint64_t> ids;
    for (const auto& [id, link] : links_)
        ids.push_back(id);
    for (uint64_t id : ids)
        endLink(id, true);
    MessagePtr release = busCall("ReleaseName");
    const QByteArray name = QByteArray::fromStdString(listener_->name());
    const char* n = name.constData();
    dbus_message_append_args(release.get(), DBUS_TYPE_STRING, &n, DBUS_TYPE_INVALID);
    dbus_message_set_no_reply(release.get(), TRUE);
    bus_->send(release.get());
    // The answers to interrupted requests leave before the connection closes.
    bus_->flush();
}

void Service::requirePeerBusName(const QString& name) {
    peerBusName_ = name;
    MessagePtr call = busCall("GetNameOwner");
    const QByteArray utf8 = name.toUtf8();
    const char* n = utf8.constData();
    dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &n, DBUS_TYPE_INVALID);
    // Changes signalled meanwhile are dispatched after this and end in the current owner.
    MessagePtr reply = bus_->callBlocking(call.get(), nullptr);
    const char* owner = nullptr;
    if (reply && dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_STRING, &owner, DBUS_TYPE_INVALID))
        peerBusNameOwner_ = string(owner);
}

bool Service::handle(DBusMessage* message) {
    const int type = dbus_message_get_type(message);
    if (type == DBUS_MESSAGE_TYPE_SIGNAL) {
        if (dbus_message_is_signal(message, kBusName, "NameOwnerChanged") &&
            is(dbus_message_get_sender(message), kBusName))
            nameOwnerChanged(message);
        return false;
    }
    if (application_ && application_->handle(message, *bus_))
        return true;
    if (type != DBUS_MESSAGE_TYPE_METHOD_CALL || !is(dbus_message_get_path(message), kPath))
        return false;
    const char* interface = dbus_message_get_interface(message);
    const char* member = dbus_message_get_member(message);
    if (dbus_message_is_method_call(message, DBUS_INTERFACE_INTROSPECTABLE, "Introspect")) {
        MessagePtr reply = makeIntrospection(message, kInterfaces);
        bus_->send(reply.get());
        return true;
    }
    if (!interface || is(interface, kListener)) {
        handleListenerCall(message, member);
        return true;
    }
    return false; // libdbus answers with UnknownMethod
}

void Service::handleListenerCall(DBusMessage* message, const char* member) {
    noteWork(1);
    const bool connectCall = is(member, "Connect");
    const bool cancelCall = is(member, "Cancel");
    const bool sendCall = is(member, "Send");
    const bool withReply = is(member, "SendWithReply");
    if (!connectCall && !cancelCall && !sendCall && !withReply) {
        replyError(message, DBUS_ERROR_UNKNOWN_METHOD,
                   QStringLiteral("No method %1 in %2").arg(string(member), string(kListener)));
        return;
    }
    const char* expected = connectCall ? "" : cancelCall ? "t" : "ta{sv}";
    if (!dbus_message_has_signature(message, expected)) {
        replyError(message, DBUS_ERROR_INVALID_ARGS,
                   QStringLiteral("%1 takes (%2), not (%3)")
                       .arg(string(member), string(expected), string(dbus_message_get_signature(message))));
        return;
    }
    if (connectCall) {
        connect(message);
        return;
    }
    DBusMessageIter args;
    dbus_message_iter_init(message, &args);
    dbus_uint64_t id = 0;
    dbus_message_iter_get_basic(&args, &id);
    const QString caller = string(dbus_message_get_sender(message));
    if (id == 0 && !cancelCall) {
        // A connection for this call alone: it is never the peer, whoever makes it.
        const uint64_t oneShot = openLink(caller, false, true);
        deliver(links_.at(oneShot), message, withReply);
        if (!withReply || dbus_message_get_no_reply(message))
            endLink(oneShot, false);
        return;
    }
    const auto it = links_.find(id);
    // Somebody else's connection is as good as none.
    if (it == links_.end() || it->second.owner != caller) {
        replyError(message, XPC_DBUS_ERROR_CONNECTION_INVALID,
                   QStringLiteral("No open connection %1 of %2").arg(id).arg(caller));
        return;
    }
    if (cancelCall) {
        replyTo(message);
        endLink(id, true);
        return;
    }
    deliver(it->second, message, withReply);
}

void Service::connect(DBusMessage* message) {
    const QString caller = string(dbus_message_get_sender(message));
    // The bus delivers the name's changes and the calls in the order they happened, so the owner
    // known now is the owner at the time of the call.
    const bool peer = peerBusName_.isEmpty() || caller == peerBusNameOwner_;
    const uint64_t id = openLink(caller, peer, false);
    MessagePtr reply(dbus_message_new_method_return(message));
    const dbus_uint64_t number = id;
    dbus_message_append_args(reply.get(), DBUS_TYPE_UINT64, &number, DBUS_TYPE_INVALID);
    if (!dbus_message_get_no_reply(message))
        bus_->send(reply.get());
    if (peer)
        listener_->deliver(links_.at(id).connection);
}

uint64_t Service::openLink(const QString& owner, bool peer, bool oneShot) {
    const uint64_t id = ++lastId_;
    Link& link = links_[id];
    link.connection = std::make_shared<Connection>(Connection::Kind::Peer, listener_->name(), nullptr);
    link.owner = owner;
    link.peer = peer;
    link.oneShot = oneShot;
    ids_[link.connection.get()] = id;
    byOwner_[owner].insert(id);
    return id;
}

void Service::deliver(Link& link, DBusMessage* message, bool withReply) {
    auto dictionary = std::make_shared<Dictionary>();
    DBusMessageIter args;
    dbus_message_iter_init(message, &args);
    dbus_message_iter_next(&args);
    wire::read(&args, *dictionary);
    size_t bytes = 0;
    for (const auto& [key, value] : dictionary->entries())
        if (const Data* data = std::get_if<Data>(&value); data && !data->mapping)
            bytes += size_t(data->bytes.size());
    noteWork(bytes / kDataPerUnit);
    dictionary->remoteConnection = link.connection;
    if (withReply && !dbus_message_get_no_reply(message)) {
        auto context = std::make_shared<ReplyContext>();
        context->caller = link.owner;
        context->serial = dbus_message_get_serial(message);
        context->connection = link.connection;
        dictionary->awaitingReply = std::make_shared<ReplyTicket>(context, onAbandoned_);
        link.unanswered.push_back(std::move(context));
    } else {
        replyTo(message);
    }
    (link.peer ? link.connection : listener_)->deliver(std::move(dictionary));
}

void Service::send(const std::shared_ptr<Connection>& connection, const QVariantMap& message,
                   const std::shared_ptr<PendingReply>& reply) {
    const auto id = ids_.find(connection.get());
    Link* link = id == ids_.end() ? nullptr : &links_.at(id->second);
    if (!link || !link->peer) {
        // Only the peer hears from the service unasked; the rest get answers and nothing else.
        if (link)
            NSLog("xpc: nothing is sent unasked to %@, which did not connect as the peer", link->owner);
        if (reply)
            reply->complete(XPC_ERROR_CONNECTION_INVALID);
        return;
    }
    MessagePtr call(dbus_message_new_method_call(link->owner.toUtf8().constData(), kPath, kPeer,
                                                 reply ? "ReceiveWithReply" : "Receive"));
    dbus_message_set_auto_start(call.get(), FALSE);
    DBusMessageIter args;
    dbus_message_iter_init_append(call.get(), &args);
    const dbus_uint64_t number = id->second;
    if (!dbus_message_iter_append_basic(&args, DBUS_TYPE_UINT64, &number) || !wire::append(&args, message)) {
        NSLog("xpc: a message could not be built for %@", link->owner);
        if (reply)
            reply->complete(XPC_ERROR_CONNECTION_INTERRUPTED);
        return;
    }
    if (!reply) {
        dbus_message_set_no_reply(call.get(), TRUE);
        bus_->send(call.get());
        return;
    }
    const uint64_t linkId = id->second;
    std::weak_ptr<Connection> weak = connection;
    DBusPendingCall* pending = bus_->call(call.get(), [this, linkId, weak, reply](DBusMessage* answer) {
        const auto it = links_.find(linkId);
        if (it != links_.end())
            std::erase_if(it->second.pending, [&](const auto& p) { return p.first == reply; });
        if (!answer || dbus_message_get_type(answer) != DBUS_MESSAGE_TYPE_METHOD_RETURN) {
            const bool invalid =
                answer && is(dbus_message_get_error_name(answer), XPC_DBUS_ERROR_CONNECTION_INVALID);
            reply->complete(invalid ? XPC_ERROR_CONNECTION_INVALID : XPC_ERROR_CONNECTION_INTERRUPTED);
            return;
        }
        if (!dbus_message_has_signature(answer, "a{sv}")) {
            NSLog("xpc: a reply of D-Bus type (%s) is not a dictionary", dbus_message_get_signature(answer));
            reply->complete(XPC_ERROR_CONNECTION_INTERRUPTED);
            return;
        }
        auto dictionary = std::make_shared<Dictionary>();
        DBusMessageIter values;
        dbus_message_iter_init(answer, &values);
        wire::read(&values, *dictionary);
        dictionary->remoteConnection = weak.lock();
        reply->complete(std::move(dictionary));
    });
    if (pending)
        link->pending.emplace_back(reply, pending);
}

void Service::answer(const std::shared_ptr<ReplyContext>& context, const std::optional<QVariantMap>& reply) {
    // A reply after its request failed (connection ended, too many waiting) is dropped.
    if (context->answered)
        return;
    context->answered = true;
    MessagePtr message = makeReturn(context->caller, context->serial);
    DBusMessageIter args;
    dbus_message_iter_init_append(message.get(), &args);
    if (!reply || !wire::append(&args, *reply))
        message =
            makeError(context->caller, context->serial, kTooLarge, "The reply was too large for the bus");
    bus_->send(message.get());
    const std::shared_ptr<Connection> connection = context->connection.lock();
    const auto id = connection ? ids_.find(connection.get()) : ids_.end();
    if (id == ids_.end())
        return;
    Link& link = links_.at(id->second);
    std::erase(link.unanswered, context);
    if (link.oneShot)
        endLink(id->second, false);
}

void Service::abandoned(const std::shared_ptr<ReplyContext>& context) {
    const std::shared_ptr<Connection> connection = context->connection.lock();
    const auto id = connection ? ids_.find(connection.get()) : ids_.end();
    if (context->answered || id == ids_.end())
        return;
    context->abandoned = true;
    Link& link = links_.at(id->second);
    if (++link.abandoned <= kMaxUnansweredRequests)
        return;
    const auto oldest = std::find_if(link.unanswered.begin(), link.unanswered.end(),
                                     [](const auto& c) { return c->abandoned; });
    (*oldest)->answered = true;
    bus_->send(makeError((*oldest)->caller, (*oldest)->serial, XPC_DBUS_ERROR_NO_REPLY,
                         QStringLiteral("Too many requests nobody answers on this connection"))
                   .get());
    link.unanswered.erase(oldest);
    --link.abandoned;
}

void Service::cancel(const std::shared_ptr<Connection>& connection) {
    const auto id = ids_.find(connection.get());
    if (id != ids_.end())
        endLink(id->second, true);
    else
        connection->deliver(XPC_ERROR_CONNECTION_INVALID);
}

void Service::endLink(uint64_t id, bool tellClient) {
    const auto it = links_.find(id);
    if (it == links_.end())
        return;
    Link link = std::move(it->second);
    links_.erase(it);
    noteWork(1);
    ids_.erase(link.connection.get());
    if (auto owned = byOwner_.find(link.owner); owned != byOwner_.end()) {
        owned->second.erase(id);
        if (owned->second.empty())
            byOwner_.erase(owned);
    }
    for (const auto& context : link.unanswered) {
        if (context->answered)
            continue;
        context->answered = true;
        if (tellClient)
            bus_->send(makeError(context->caller, context->serial, XPC_DBUS_ERROR_CONNECTION_INTERRUPTED,
                                 QStringLiteral("The connection ended before the reply"))
                           .get());
    }
    for (auto& [reply, pending] : link.pending) {
        bus_->cancel(pending);
        reply->complete(XPC_ERROR_CONNECTION_INVALID);
    }
    // A connection that never reached the listener's handler has nobody to tell.
    if (link.peer)
        link.connection->deliver(XPC_ERROR_CONNECTION_INVALID);
}

void Service::nameOwnerChanged(DBusMessage* message) {
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (!dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &oldOwner,
                               DBUS_TYPE_STRING, &newOwner, DBUS_TYPE_INVALID))
        return;
    const QString changed = string(name);
    if (!peerBusName_.isEmpty() && changed == peerBusName_)
        peerBusNameOwner_ = string(newOwner);
    if (*newOwner != '\0' || !changed.startsWith(u':'))
        return;
    const auto owned = byOwner_.find(changed);
    if (owned == byOwner_.end())
        return;
    const std::set<uint64_t> ids = owned->second;
    for (uint64_t id : ids)
        endLink(id, false);
}

void Service::replyError(DBusMessage* call, const char* name, const QString& text) {
    if (dbus_message_get_no_reply(call))
        return;
    MessagePtr reply(dbus_message_new_error(call, name, text.toUtf8().constData()));
    bus_->send(reply.get());
}

void Service::replyTo(DBusMessage* call) {
    if (!dbus_message_get_no_reply(call))
        bus_->send(MessagePtr(dbus_message_new_method_return(call)).get());
}

} // namespace xpc
