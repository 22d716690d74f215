#include "xpc/Xpc.h"

#include "Log.h"
#include "xpc/XpcBus.h"
#include "xpc/XpcWire.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <cstring>

namespace xpc {

const xpc_object_t XPC_ERROR_CONNECTION_INVALID = std::make_shared<Error>("Connection invalid");
const xpc_object_t XPC_ERROR_CONNECTION_INTERRUPTED = std::make_shared<Error>("Connection interrupted");
const xpc_object_t XPC_ERROR_TERMINATION_IMMINENT = std::make_shared<Error>("Termination imminent");

namespace {

template <typename T> void setValue(const xpc_object_t& object, const char* key, T value) {
    if (auto dictionary = asDictionary(object); dictionary && key)
        dictionary->set(key, Dictionary::Value(std::move(value)));
}

template <typename T> T getValue(const xpc_object_t& object, const char* key) {
    auto dictionary = asDictionary(object);
    return dictionary && key ? dictionary->getAs<T>(key) : T{};
}

} // namespace

xpc_type_t xpc_get_type(const xpc_object_t& object) {
    return object ? object->type() : xpc_type_t::Null;
}

std::string xpc_copy_description(const xpc_object_t& object) {
    return object ? object->description() : std::string("<null>");
}

xpc_object_t xpc_dictionary_create() {
    return std::make_shared<Dictionary>();
}

size_t xpc_dictionary_get_count(const xpc_object_t& dictionary) {
    auto d = asDictionary(dictionary);
    return d ? d->count() : 0;
}

void xpc_dictionary_set_uint64(const xpc_object_t& d, const char* key, uint64_t value) {
    setValue(d, key, value);
}
void xpc_dictionary_set_int64(const xpc_object_t& d, const char* key, int64_t value) {
    setValue(d, key, value);
}
void xpc_dictionary_set_bool(const xpc_object_t& d, const char* key, bool value) {
    setValue(d, key, value);
}
void xpc_dictionary_set_double(const xpc_object_t& d, const char* key, double value) {
    setValue(d, key, value);
}

void xpc_dictionary_set_string(const xpc_object_t& d, const char* key, const char* value) {
    if (value)
        setValue(d, key, std::string(value));
}

void xpc_dictionary_set_string(const xpc_object_t& d, const char* key, const std::string& value) {
    setValue(d, key, std::string(value.c_str()));
}

void xpc_dictionary_set_data(const xpc_object_t& d, const char* key, const void* bytes, size_t length) {
    if (bytes || length == 0)
        xpc_dictionary_set_data(d, key, QByteArray(static_cast<const char*>(bytes), qsizetype(length)));
}

void xpc_dictionary_set_data(const xpc_object_t& d, const char* key, QByteArray bytes) {
    setValue(d, key, Data{std::move(bytes), nullptr});
}

uint64_t xpc_dictionary_get_uint64(const xpc_object_t& d, const char* key) {
    return getValue<uint64_t>(d, key);
}
int64_t xpc_dictionary_get_int64(const xpc_object_t& d, const char* key) {
    return getValue<int64_t>(d, key);
}
bool xpc_dictionary_get_bool(const xpc_object_t& d, const char* key) {
    return getValue<bool>(d, key);
}
double xpc_dictionary_get_double(const xpc_object_t& d, const char* key) {
    return getValue<double>(d, key);
}
std::string xpc_dictionary_get_string(const xpc_object_t& d, const char* key) {
    return getValue<std::string>(d, key);
}
QByteArray xpc_dictionary_get_data(const xpc_object_t& d, const char* key) {
    auto dictionary = asDictionary(d);
    return dictionary && key ? dictionary->data(key) : QByteArray();
}

const void* xpc_dictionary_get_data(const xpc_object_t& d, const char* key, size_t* length) {
    auto dictionary = asDictionary(d);
    if (!dictionary || !key) {
        if (length)
            *length = 0;
        return nullptr;
    }
    return dictionary->dataPointer(key, length);
}

xpc_object_t xpc_dictionary_create_reply(const xpc_object_t& request) {
    auto dictionary = asDictionary(request);
    if (!dictionary || !dictionary->awaitingReply)
        return nullptr;
    auto reply = std::make_shared<Dictionary>();
    reply->answers = dictionary->awaitingReply;
    reply->remoteConnection = dictionary->remoteConnection;
    return reply;
}

xpc_connection_t xpc_dictionary_get_remote_connection(const xpc_object_t& message) {
    auto dictionary = asDictionary(message);
    return dictionary ? dictionary->remoteConnection : nullptr;
}

xpc_connection_t xpc_connection_create_mach_service(const char* name, dispatch::QueuePtr targetq,
                                                    uint64_t flags) {
    if (!name || !*name) {
        NSLog("xpc_connection_create_mach_service: no service name");
        return nullptr;
    }
    if (flags & XPC_CONNECTION_MACH_SERVICE_LISTENER) {
        auto listener = std::make_shared<Connection>(Connection::Kind::Listener, name, std::move(targetq));
        bool started = false;
        bus::run([&](BusAgent& agent) { started = agent.startListener(listener); });
        return started ? listener : nullptr;
    }
    auto client = std::make_shared<Connection>(Connection::Kind::Client, name, std::move(targetq));
    if (!bus::post([client](BusAgent& agent) { agent.addClient(client); }))
        client->deliver(XPC_ERROR_CONNECTION_INVALID);
    return client;
}

void xpc_listener_set_peer_bus_name(const xpc_connection_t& listener, const char* name) {
    auto c = asConnection(listener);
    if (c && name && c->kind() == Connection::Kind::Listener)
        bus::run([&](BusAgent& agent) { agent.requirePeerBusName(c, QString::fromUtf8(name)); });
}

void xpc_connection_set_event_handler(const xpc_connection_t& connection, xpc_handler_t handler) {
    if (auto c = asConnection(connection))
        c->setHandler(std::move(handler));
}

void xpc_connection_set_target_queue(const xpc_connection_t& connection, dispatch::QueuePtr targetq) {
    if (auto c = asConnection(connection))
        c->setTargetQueue(std::move(targetq));
}

void xpc_connection_resume(const xpc_connection_t& connection) {
    auto c = asConnection(connection);
    if (c && c->resume() && c->kind() == Connection::Kind::Client)
        bus::post([c](BusAgent& agent) { agent.resumeClient(c); });
}

void xpc_connection_cancel(const xpc_connection_t& connection) {
    auto c = asConnection(connection);
    if (c && !bus::post([c](BusAgent& agent) { agent.cancel(c); }))
        c->deliver(XPC_ERROR_CONNECTION_INVALID);
}

std::string xpc_connection_get_name(const xpc_connection_t& connection) {
    auto c = asConnection(connection);
    return c ? c->name() : std::string();
}

void xpc_connection_send_message(const xpc_connection_t& connection, const xpc_object_t& message) {
    auto dictionary = asDictionary(message);
    if (!dictionary) {
        NSLog("xpc_connection_send_message: the message is not a dictionary: %s",
              xpc_copy_description(message));
        return;
    }
    if (std::shared_ptr<ReplyContext> context =
            dictionary->answers ? dictionary->answers->context : nullptr) {
        std::optional<QVariantMap> encoded = wire::encode(*dictionary, bus::fdPassing());
        bus::post(
            [context, encoded = std::move(encoded)](BusAgent& agent) { agent.answer(context, encoded); });
        return;
    }
    auto c = asConnection(connection);
    if (!c) {
        NSLog("xpc_connection_send_message: no connection to send on");
        return;
    }
    if (std::optional<QVariantMap> encoded = wire::encode(*dictionary, bus::fdPassing()))
        bus::post([c, encoded = std::move(*encoded)](BusAgent& agent) { agent.send(c, encoded, nullptr); });
}

void xpc_connection_send_message_with_reply(const xpc_connection_t& connection, const xpc_object_t& message,
                                            dispatch::QueuePtr replyq, xpc_handler_t handler) {
    auto c = asConnection(connection);
    auto dictionary = asDictionary(message);
    if (!c || !dictionary) {
        NSLog("xpc_connection_send_message_with_reply: needs a connection and a dictionary");
        return;
    }
    auto reply = std::make_shared<PendingReply>();
    reply->handler = std::move(handler);
    reply->queue = replyq ? std::move(replyq) : c->deliveryQueue();
    std::optional<QVariantMap> encoded = wire::encode(*dictionary, bus::fdPassing());
    if (!encoded) {
        reply->complete(XPC_ERROR_CONNECTION_INTERRUPTED);
        return;
    }
    if (!bus::post(
            [c, reply, encoded = std::move(*encoded)](BusAgent& agent) { agent.send(c, encoded, reply); }))
        reply->complete(XPC_ERROR_CONNECTION_INVALID);
}

} // namespace xpc

namespace xpc {

xpc_object_t xpc_send_once(const char* name, const xpc_object_t& message, bool wantReply, int timeoutMs) {
    auto dictionary = asDictionary(message);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!dictionary || !name || !bus.isConnected())
        return XPC_ERROR_CONNECTION_INVALID;
    std::optional<QVariantMap> encoded = wire::encode(*dictionary, bus::fdPassing());
    if (!encoded)
        return XPC_ERROR_CONNECTION_INVALID;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromUtf8(name), QStringLiteral("/xpc"),
                                                       QStringLiteral("app.glimra.xpc.Listener"),
                                                       wantReply ? "SendWithReply" : "Send");
    call.setAutoStartService(false);
    call.setArguments({QVariant::fromValue<qulonglong>(0), QVariant::fromValue(*encoded)});
    const QDBusMessage answer = bus.call(call, QDBus::Block, timeoutMs);
    if (answer.type() != QDBusMessage::ReplyMessage) {
        if (answer.errorName() != QLatin1String("org.freedesktop.DBus.Error.NoReply"))
            NSLog("xpc: %@: %@", glimra::printable(answer.errorName()),
                  glimra::printable(answer.errorMessage()));
        return answer.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
                       answer.errorName() == QLatin1String(XPC_DBUS_ERROR_CONNECTION_INTERRUPTED) ||
                       answer.errorName() == QLatin1String(XPC_DBUS_ERROR_NO_REPLY)
                   ? XPC_ERROR_CONNECTION_INTERRUPTED
                   : XPC_ERROR_CONNECTION_INVALID;
    }
    auto reply = std::make_shared<Dictionary>();
    if (wantReply)
        wire::decode(answer.arguments().value(0), *reply);
    return reply;
}

} // namespace xpc
