// The bus thread's object at /xpc on the QtDBus connection: the clients' side of the binding, which
// receives what a service sends them (Receive, ReceiveWithReply) and answers it.

#include "xpc/XpcBus.h"

#include "Log.h"
#include "dispatch/PostedJob.h"
#include "xpc/XpcNames.h"
#include "xpc/XpcWire.h"

#include <QDBusServiceWatcher>

#include <algorithm>
#include <utility>

namespace xpc {

using namespace names;

namespace {

const QString kTooLarge = QStringLiteral("app.glimra.xpc.Error.MessageTooLarge");
const QString kInvalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
const QString kUnknownMethod = QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod");

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
    // A service may send on a connection as soon as it has answered Connect, and its call can be
    // handled here before that answer opens the link: it waits for the links still connecting.
    const bool connecting = std::any_of(links_.begin(), links_.end(), [](const auto& entry) {
        return entry.second.state == Link::State::Connecting;
    });
    if (connecting && earlyCalls_.size() < kMaxEarlyCalls) {
        earlyCalls_.push_back(message);
        return;
    }
    replyError(message, kInvalid, QString("No open connection %1 to %2").arg(id).arg(message.service()));
}

void BusAgent::retryEarlyCalls() {
    std::vector<QDBusMessage> calls = std::exchange(earlyCalls_, {});
    for (const QDBusMessage& call : calls)
        handlePeerCall(call);
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

} // namespace xpc
