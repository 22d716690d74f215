#pragma once
// The listener's own connection to the session bus, through libdbus and driven by the event loop of
// the thread that opened it (the bus thread). QtDBus cannot answer a call whose message it no longer
// holds; here an answer needs only the caller's name and the call's serial, so a request waiting for
// its answer keeps nothing of its body, and libdbus never stops reading because of it.

#include <QObject>
#include <QString>

#include <dbus/dbus.h>

#include <functional>
#include <memory>
#include <set>

namespace xpc {

// A message reference owned by whoever holds it.
struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<DBusMessage, MessageUnref>;

class ServiceConnection final : public QObject {
public:
    // Returns true when it took the message (a method call it answered or will answer).
    using Handler = std::function<bool(DBusMessage*)>;
    // Receives the reply or error, or null when the call was dropped.
    using ReplyHandler = std::function<void(DBusMessage*)>;

    // Null, with *error set, when the session bus cannot be reached.
    static std::unique_ptr<ServiceConnection> open(QString* error);
    ~ServiceConnection() override;

    QString uniqueName() const;
    void setHandler(Handler handler) { handler_ = std::move(handler); }
    void send(DBusMessage* message);
    // The pending call stays valid until its handler ran or it was cancelled.
    DBusPendingCall* call(DBusMessage* message, ReplyHandler done);
    void cancel(DBusPendingCall* pending);
    // For start-up and shutdown only: the event loop does not run meanwhile.
    MessagePtr callBlocking(DBusMessage* message, QString* error);
    void flush();
    // Dispatches what was read, on a later turn of the event loop.
    void scheduleDispatch();

private:
    struct Waiting {
        ServiceConnection* self;
        ReplyHandler done;
    };
    explicit ServiceConnection(DBusConnection* connection);
    static DBusHandlerResult filter(DBusConnection*, DBusMessage* message, void* self);
    static void replyArrived(DBusPendingCall* pending, void* waiting);
    void dispatch();

    DBusConnection* connection_;
    Handler handler_;
    std::set<DBusPendingCall*> pending_;
    bool dispatchScheduled_ = false;
};

// Answers addressed by the caller's unique name and the call's serial alone.
MessagePtr makeReturn(const QString& destination, dbus_uint32_t serial);
MessagePtr makeError(const QString& destination, dbus_uint32_t serial, const char* name, const QString& text);
// The answer to Introspect on an object with these interfaces (their XML), Introspectable added.
MessagePtr makeIntrospection(DBusMessage* call, const char* interfaces);

} // namespace xpc
