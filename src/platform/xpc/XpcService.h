#pragma once
// The service side of XPC: the listener on its own bus connection, and the connections its clients
// open. Lives on the bus thread, like everything of the bus side.
//
// A connection belongs to the client (unique bus name) that opened it: only that client may use or
// cancel it, and it ends when the client leaves the bus. With a peer bus name set, only connections
// of the client that owned that name when it connected are handed to the listener's handler; the
// others (stock tools, scripts) are served through the listener's handler, which receives their
// messages, and are never sent anything unasked. Connection 0 stands for a connection of one call.

#include "xpc/XpcApplication.h"
#include "xpc/XpcObjects.h"
#include "xpc/XpcServiceConnection.h"

#include <QString>
#include <QTimer>
#include <QVariantMap>

#include <map>
#include <optional>
#include <set>
#include <vector>

namespace xpc {

struct PendingReply;

class Service {
public:
    // At most this many requests of one connection that nobody can answer any more stay open; the
    // oldest of them then fails.
    static constexpr size_t kMaxUnansweredRequests = 64;

    // Claims the listener's name on a connection of its own; null when it cannot (logged unless
    // another process owns the name). onAbandoned must bring abandoned requests back to abandoned()
    // on this thread.
    // application, when given, is served beside /xpc from the moment the name is claimed.
    static std::unique_ptr<Service> start(std::shared_ptr<Connection> listener,
                                          ReplyTicket::Abandoned onAbandoned,
                                          std::shared_ptr<const ApplicationObject> application = nullptr);
    // Ends every connection; requests still waiting fail as interrupted; the name is released.
    ~Service();

    const std::shared_ptr<Connection>& listener() const { return listener_; }
    void requirePeerBusName(const QString& name);
    void setApplication(std::shared_ptr<const ApplicationObject> application) {
        application_ = std::move(application);
    }
    bool serves(const Connection* connection) const { return ids_.count(connection) != 0; }
    void send(const std::shared_ptr<Connection>& connection, const QVariantMap& message,
              const std::shared_ptr<PendingReply>& reply);
    void answer(const std::shared_ptr<ReplyContext>& context, const std::optional<QVariantMap>& reply);
    void cancel(const std::shared_ptr<Connection>& connection);
    // The request can no longer be answered: it stays open, holding nothing of its message.
    void abandoned(const std::shared_ptr<ReplyContext>& context);

private:
    struct Link {
        std::shared_ptr<Connection> connection;
        QString owner;     // unique name of the client
        bool peer = false; // handed to the listener's handler
        bool oneShot = false;
        std::vector<std::shared_ptr<ReplyContext>> unanswered; // in the order they came
        size_t abandoned = 0;                                  // of them
        std::vector<std::pair<std::shared_ptr<PendingReply>, DBusPendingCall*>> pending;
    };

    Service(std::shared_ptr<Connection> listener, std::unique_ptr<ServiceConnection> bus,
            ReplyTicket::Abandoned onAbandoned, std::shared_ptr<const ApplicationObject> application);
    bool handle(DBusMessage* message);
    void handleListenerCall(DBusMessage* message, const char* member);
    void connect(DBusMessage* message);
    void deliver(Link& link, DBusMessage* message, bool withReply);
    void nameOwnerChanged(DBusMessage* message);
    uint64_t openLink(const QString& owner, bool peer, bool oneShot);
    // tellClient: requests still waiting are answered as interrupted (the client is still there).
    void endLink(uint64_t id, bool tellClient);
    void replyError(DBusMessage* call, const char* name, const QString& text);
    void replyTo(DBusMessage* call);
    // A storm (thousands of calls or connections, megabytes of data) leaves what it cost in malloc's
    // free lists, where a helper that goes back to waiting would never use it: counted here, it is
    // handed back to the system once the bus has been quiet for a moment.
    void noteWork(size_t units);

    std::shared_ptr<Connection> listener_;
    std::unique_ptr<ServiceConnection> bus_;
    ReplyTicket::Abandoned onAbandoned_;
    std::shared_ptr<const ApplicationObject> application_;
    QString peerBusName_;
    QString peerBusNameOwner_;
    uint64_t lastId_ = 0;
    std::map<uint64_t, Link> links_;
    std::map<const Connection*, uint64_t> ids_;
    std::map<QString, std::set<uint64_t>> byOwner_;
    size_t workSinceTrim_ = 0;
    QTimer trimTimer_;
};

} // namespace xpc
