#include "xpc/XpcServiceConnection.h"

#include <QSocketNotifier>
#include <QTimer>

#include <string>

namespace xpc {
namespace {

// At most this many messages are dispatched in one turn of the event loop, so that a flood from one
// client leaves room for everything else the bus thread does.
constexpr int kMessagesPerTurn = 64;

// The socket notifiers of one libdbus watch.
struct Watch {
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
};

void updateWatch(DBusWatch* watch) {
    auto* w = static_cast<Watch*>(dbus_watch_get_data(watch));
    if (!w)
        return;
    const bool enabled = dbus_watch_get_enabled(watch);
    const unsigned flags = dbus_watch_get_flags(watch);
    if (w->read)
        w->read->setEnabled(enabled && (flags & DBUS_WATCH_READABLE));
    if (w->write)
        w->write->setEnabled(enabled && (flags & DBUS_WATCH_WRITABLE));
}

dbus_bool_t addWatch(DBusWatch* watch, void* data) {
    auto* self = static_cast<ServiceConnection*>(data);
    auto w = std::make_unique<Watch>();
    const int fd = dbus_watch_get_unix_fd(watch);
    const unsigned flags = dbus_watch_get_flags(watch);
    auto handle = [watch, self](unsigned condition) {
        dbus_watch_handle(watch, condition);
        // Reading may have queued messages: dispatch them.
        self->scheduleDispatch();
    };
    if (flags & DBUS_WATCH_READABLE) {
        w->read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(w->read.get(), &QSocketNotifier::activated, self,
                         [handle] { handle(DBUS_WATCH_READABLE); });
    }
    if (flags & DBUS_WATCH_WRITABLE) {
        w->write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        QObject::connect(w->write.get(), &QSocketNotifier::activated, self,
                         [handle] { handle(DBUS_WATCH_WRITABLE); });
    }
    dbus_watch_set_data(watch, w.release(), [](void* p) { delete static_cast<Watch*>(p); });
    updateWatch(watch);
    return TRUE;
}

void removeWatch(DBusWatch* watch, void*) {
    dbus_watch_set_data(watch, nullptr, nullptr); // frees the notifiers
}

void toggleWatch(DBusWatch* watch, void*) {
    updateWatch(watch);
}

void updateTimeout(DBusTimeout* timeout) {
    auto* timer = static_cast<QTimer*>(dbus_timeout_get_data(timeout));
    if (timer && dbus_timeout_get_enabled(timeout))
        timer->start(dbus_timeout_get_interval(timeout));
    else if (timer)
        timer->stop();
}

dbus_bool_t addTimeout(DBusTimeout* timeout, void*) {
    auto* timer = new QTimer; // owned by the timeout, freed with it
    QObject::connect(timer, &QTimer::timeout, [timeout] { dbus_timeout_handle(timeout); });
    dbus_timeout_set_data(timeout, timer, [](void* p) { delete static_cast<QTimer*>(p); });
    updateTimeout(timeout);
    return TRUE;
}

void removeTimeout(DBusTimeout* timeout, void*) {
    dbus_timeout_set_data(timeout, nullptr, nullptr);
}

void toggleTimeout(DBusTimeout* timeout, void*) {
    updateTimeout(timeout);
}

QString errorText(DBusError& error) {
    const QString text = QString::fromUtf8(error.message ? error.message : "unknown error");
    dbus_error_free(&error);
    return text;
}

} // namespace

std::unique_ptr<ServiceConnection> ServiceConnection::open(QString* error) {
    dbus_threads_init_default();
    DBusError e;
    dbus_error_init(&e);
    DBusConnection* connection = dbus_bus_get_private(DBUS_BUS_SESSION, &e);
    if (!connection) {
        *error = errorText(e);
        return nullptr;
    }
    return std::unique_ptr<ServiceConnection>(new ServiceConnection(connection));
}

ServiceConnection::ServiceConnection(DBusConnection* connection) : connection_(connection) {
    dbus_connection_set_exit_on_disconnect(connection_, FALSE);
    dbus_connection_add_filter(connection_, &ServiceConnection::filter, this, nullptr);
    dbus_connection_set_watch_functions(connection_, addWatch, removeWatch, toggleWatch, this, nullptr);
    dbus_connection_set_timeout_functions(connection_, addTimeout, removeTimeout, toggleTimeout, this,
                                          nullptr);
    dbus_connection_set_dispatch_status_function(
        connection_,
        [](DBusConnection*, DBusDispatchStatus status, void* self) {
            if (status == DBUS_DISPATCH_DATA_REMAINS)
                static_cast<ServiceConnection*>(self)->scheduleDispatch();
        },
        this, nullptr);
    scheduleDispatch();
}

ServiceConnection::~ServiceConnection() {
    for (DBusPendingCall* pending : pending_) {
        dbus_pending_call_cancel(pending);
        dbus_pending_call_unref(pending);
    }
    dbus_connection_remove_filter(connection_, &ServiceConnection::filter, this);
    dbus_connection_set_dispatch_status_function(connection_, nullptr, nullptr, nullptr);
    dbus_connection_close(connection_);
    dbus_connection_set_watch_functions(connection_, nullptr, nullptr, nullptr, nullptr, nullptr);
    dbus_connection_set_timeout_functions(connection_, nullptr, nullptr, nullptr, nullptr, nullptr);
    dbus_connection_unref(connection_);
}

QString ServiceConnection::uniqueName() const {
    return QString::fromUtf8(dbus_bus_get_unique_name(connection_));
}

void ServiceConnection::send(DBusMessage* message) {
    dbus_connection_send(connection_, message, nullptr);
}

DBusPendingCall* ServiceConnection::call(DBusMessage* message, ReplyHandler done) {
    DBusPendingCall* pending = nullptr;
    // XPC waits for a reply as long as the connection lives; so do we.
    if (!dbus_connection_send_with_reply(connection_, message, &pending, DBUS_TIMEOUT_INFINITE) || !pending) {
        done(nullptr);
        return nullptr;
    }
    // Replies are only dispatched on this thread, so none can complete before the notify is set.
    auto* waiting = new Waiting{this, std::move(done)}; // freed with the pending call
    dbus_pending_call_set_notify(pending, &ServiceConnection::replyArrived, waiting,
                                 [](void* p) { delete static_cast<Waiting*>(p); });
    pending_.insert(pending);
    return pending;
}

void ServiceConnection::replyArrived(DBusPendingCall* pending, void* data) {
    auto* waiting = static_cast<Waiting*>(data);
    MessagePtr reply(dbus_pending_call_steal_reply(pending));
    ReplyHandler done = std::move(waiting->done);
    waiting->self->pending_.erase(pending);
    dbus_pending_call_unref(pending); // frees waiting, not before the handler has been moved out
    if (done)
        done(reply.get());
}

void ServiceConnection::cancel(DBusPendingCall* pending) {
    if (pending_.erase(pending) == 0)
        return;
    dbus_pending_call_cancel(pending);
    dbus_pending_call_unref(pending);
}

MessagePtr ServiceConnection::callBlocking(DBusMessage* message, QString* error) {
    DBusError e;
    dbus_error_init(&e);
    MessagePtr reply(dbus_connection_send_with_reply_and_block(connection_, message, 5000, &e));
    if (!reply && error)
        *error = errorText(e);
    else if (!reply)
        dbus_error_free(&e);
    return reply;
}

void ServiceConnection::flush() {
    dbus_connection_flush(connection_);
}

DBusHandlerResult ServiceConnection::filter(DBusConnection*, DBusMessage* message, void* data) {
    auto* self = static_cast<ServiceConnection*>(data);
    return self->handler_ && self->handler_(message) ? DBUS_HANDLER_RESULT_HANDLED
                                                     : DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
}

void ServiceConnection::scheduleDispatch() {
    if (dispatchScheduled_)
        return;
    dispatchScheduled_ = true;
    QMetaObject::invokeMethod(
        this, [this] { dispatch(); }, Qt::QueuedConnection);
}

void ServiceConnection::dispatch() {
    dispatchScheduled_ = false;
    for (int i = 0; i < kMessagesPerTurn; ++i)
        if (dbus_connection_dispatch(connection_) != DBUS_DISPATCH_DATA_REMAINS)
            return;
    scheduleDispatch();
}

MessagePtr makeReturn(const QString& destination, dbus_uint32_t serial) {
    MessagePtr reply(dbus_message_new(DBUS_MESSAGE_TYPE_METHOD_RETURN));
    dbus_message_set_reply_serial(reply.get(), serial);
    dbus_message_set_destination(reply.get(), destination.toUtf8().constData());
    // Nobody answers an answer; one to a caller that has left is dropped quietly by the bus.
    dbus_message_set_no_reply(reply.get(), TRUE);
    return reply;
}

MessagePtr makeError(const QString& destination, dbus_uint32_t serial, const char* name,
                     const QString& text) {
    MessagePtr reply(dbus_message_new(DBUS_MESSAGE_TYPE_ERROR));
    dbus_message_set_error_name(reply.get(), name);
    dbus_message_set_reply_serial(reply.get(), serial);
    dbus_message_set_destination(reply.get(), destination.toUtf8().constData());
    dbus_message_set_no_reply(reply.get(), TRUE);
    const QByteArray utf8 = text.toUtf8();
    const char* message = utf8.constData();
    dbus_message_append_args(reply.get(), DBUS_TYPE_STRING, &message, DBUS_TYPE_INVALID);
    return reply;
}

MessagePtr makeIntrospection(DBusMessage* call, const char* interfaces) {
    const std::string document =
        std::string(R"(<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">
<node>
)") + interfaces +
        R"(  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect">
      <arg name="data" type="s" direction="out"/>
    </method>
  </interface>
</node>
)";
    MessagePtr reply(dbus_message_new_method_return(call));
    const char* text = document.c_str();
    dbus_message_append_args(reply.get(), DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
    return reply;
}

} // namespace xpc
