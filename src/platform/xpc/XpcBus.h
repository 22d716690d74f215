#pragma once
// The bus side of XPC connections. One thread of the library's own owns every D-Bus object involved
// (the /xpc object, the name watcher, pending calls, the listener's own bus connection) and all
// connection state, so nothing of it needs a lock; the public calls hand it jobs from any thread.
// Clients talk through QtDBus's session connection; the listener is a Service of its own.

#include "xpc/XpcApplication.h"
#include "xpc/XpcObjects.h"
#include "xpc/XpcService.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QVariantMap>

#include <functional>
#include <optional>
#include <vector>

class QDBusServiceWatcher;

namespace xpc {

class BusAgent final : public QDBusVirtualObject {
public:
    BusAgent();
    ~BusAgent() override;

    bool event(QEvent* event) override;
    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    bool startListener(const std::shared_ptr<Connection>& listener);
    // Served by the listener's connection, now or from its start.
    void setApplicationActions(ApplicationActions actions);
    void requirePeerBusName(const std::shared_ptr<Connection>& listener, const QString& name);
    void addClient(std::shared_ptr<Connection> client);
    void resumeClient(const std::shared_ptr<Connection>& client);
    // reply null: a message without reply.
    void send(const std::shared_ptr<Connection>& connection, QVariantMap message,
              std::shared_ptr<PendingReply> reply);
    // reply nullopt: the reply could not be encoded; the caller gets an error instead.
    void answer(const std::shared_ptr<ReplyContext>& context, std::optional<QVariantMap> reply);
    void cancel(const std::shared_ptr<Connection>& connection);
    void shutdown();

private:
    // The bus-side state of one client connection.
    struct Link {
        std::shared_ptr<Connection> connection;
        QString remote; // unique name of the service; empty while not connected
        uint64_t id = 0;
        bool watching = false; // its end follows the remote name's
        enum class State { Idle, Connecting, Open } state = State::Idle;
        std::vector<std::function<void(Link&)>> waiting; // sends until Connect returns
        std::vector<std::shared_ptr<ReplyContext>> unanswered;
        std::vector<std::shared_ptr<PendingReply>> pending;
    };

    void handlePeerCall(const QDBusMessage& message);
    // Calls handled again once the links still connecting have their answers.
    void retryEarlyCalls();
    Link* findLink(const Connection* key, const std::weak_ptr<Connection>& expected);
    void deliverMessage(Link& link, const QDBusMessage& message, bool withReply);
    void connectClient(Link& link);
    // The answer to a link's Connect: the link opens and sends what waited, or ends.
    void openClient(const Connection* key, const std::weak_ptr<Connection>& weak, const QDBusMessage& reply,
                    const QString& service);
    void sendOnLink(Link& link, const QVariantMap& message, const std::shared_ptr<PendingReply>& reply);
    void endLink(const Connection* key, bool tellService);
    void interruptClient(Link& link);
    void failRequests(Link& link, const xpc_object_t& error);
    void nameVanished(const QString& name);
    void watch(const QString& name);
    void unwatch(const QString& name);
    void replyError(const QDBusMessage& message, const QString& name, const QString& text);

    QDBusConnection bus_;
    QDBusServiceWatcher* watcher_; // child
    std::unique_ptr<Service> service_;
    std::shared_ptr<const ApplicationObject> application_;
    std::map<const Connection*, Link> links_;
    static constexpr size_t kMaxEarlyCalls = 64;
    std::vector<QDBusMessage> earlyCalls_; // for a link whose Connect answer is still on its way
    std::map<QString, int> watched_;
};

namespace bus {

// Runs job on the bus thread, starting it on first use; false when there is no bus to run it on (no
// application object or session bus, or after the application object is gone).
bool post(std::function<void(BusAgent&)> job);
// Runs job on the bus thread and waits for it.
bool run(const std::function<void(BusAgent&)>& job);
bool fdPassing();

} // namespace bus
} // namespace xpc
