#pragma once
// XPC connections and dictionaries carried over the D-Bus session bus.
//
// A Mach service named N is the bus name N exporting /xpc with the interface app.glimra.xpc.Listener;
// every connecting process exports /xpc with app.glimra.xpc.Peer on its unique name so the service can
// send back. Objects are reference counted through std::shared_ptr (retain/release are copies).
// Every call here may be made from any thread.

#include "dispatch/Dispatch.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace xpc {

enum class xpc_type_t { Null, Connection, Dictionary, Error };

class Object {
public:
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    virtual xpc_type_t type() const = 0;
    virtual std::string description() const = 0;

protected:
    Object() = default;
};

using xpc_object_t = std::shared_ptr<Object>;
using xpc_connection_t = xpc_object_t;
using xpc_handler_t = std::function<void(xpc_object_t)>;

// Compared by identity.
extern const xpc_object_t XPC_ERROR_CONNECTION_INVALID;
extern const xpc_object_t XPC_ERROR_CONNECTION_INTERRUPTED;
extern const xpc_object_t XPC_ERROR_TERMINATION_IMMINENT;

inline constexpr uint64_t XPC_CONNECTION_MACH_SERVICE_LISTENER = 1;

// Bus error names of the service side.
inline constexpr const char* XPC_DBUS_ERROR_CONNECTION_INVALID = "app.glimra.xpc.Error.ConnectionInvalid";
inline constexpr const char* XPC_DBUS_ERROR_CONNECTION_INTERRUPTED =
    "app.glimra.xpc.Error.ConnectionInterrupted";
inline constexpr const char* XPC_DBUS_ERROR_NO_REPLY = "app.glimra.xpc.Error.NoReply";

xpc_type_t xpc_get_type(const xpc_object_t& object);
std::string xpc_copy_description(const xpc_object_t& object);

// Dictionaries. Getters are strict: an absent key or a value of another type reads as false, 0, 0.0
// or empty. Setters on anything but a dictionary, or with a null key, do nothing.
xpc_object_t xpc_dictionary_create();
size_t xpc_dictionary_get_count(const xpc_object_t& dictionary);
void xpc_dictionary_set_uint64(const xpc_object_t& dictionary, const char* key, uint64_t value);
void xpc_dictionary_set_int64(const xpc_object_t& dictionary, const char* key, int64_t value);
void xpc_dictionary_set_bool(const xpc_object_t& dictionary, const char* key, bool value);
void xpc_dictionary_set_double(const xpc_object_t& dictionary, const char* key, double value);
// The value ends at its first NUL, as a C string would.
void xpc_dictionary_set_string(const xpc_object_t& dictionary, const char* key, const char* value);
void xpc_dictionary_set_string(const xpc_object_t& dictionary, const char* key, const std::string& value);
void xpc_dictionary_set_data(const xpc_object_t& dictionary, const char* key, const void* bytes,
                             size_t length);
void xpc_dictionary_set_data(const xpc_object_t& dictionary, const char* key, QByteArray bytes);
uint64_t xpc_dictionary_get_uint64(const xpc_object_t& dictionary, const char* key);
int64_t xpc_dictionary_get_int64(const xpc_object_t& dictionary, const char* key);
bool xpc_dictionary_get_bool(const xpc_object_t& dictionary, const char* key);
double xpc_dictionary_get_double(const xpc_object_t& dictionary, const char* key);
std::string xpc_dictionary_get_string(const xpc_object_t& dictionary, const char* key);
QByteArray xpc_dictionary_get_data(const xpc_object_t& dictionary, const char* key);
// The bytes stay valid while the dictionary lives and the key is not set again; null when absent.
const void* xpc_dictionary_get_data(const xpc_object_t& dictionary, const char* key, size_t* length);

// A reply to a message that came with a reply expected; null for any other dictionary.
xpc_object_t xpc_dictionary_create_reply(const xpc_object_t& request);
// The connection a received message (or a reply made from one) belongs to; null otherwise.
xpc_connection_t xpc_dictionary_get_remote_connection(const xpc_object_t& message);

// With XPC_CONNECTION_MACH_SERVICE_LISTENER: the service side; claims the bus name on a bus connection
// of its own (null when another process owns it, or with a log line when there is no bus). Without: a client
// of the service named name. Connections start suspended; nothing is delivered before xpc_connection_resume.
xpc_connection_t xpc_connection_create_mach_service(const char* name, dispatch::QueuePtr targetq,
                                                    uint64_t flags);
// Linux: only the connections of the client that owns the bus name `name` when it connects reach the
// listener's handler as connections. Any other client is served through the listener's handler
// itself, which receives its messages (replies go back to it), and is never sent anything unasked.
// Without it, every connection reaches the handler. Call before resuming the listener.
void xpc_listener_set_peer_bus_name(const xpc_connection_t& listener, const char* name);
void xpc_connection_set_event_handler(const xpc_connection_t& connection, xpc_handler_t handler);
// Without a target queue, events are delivered on the XPC default target queue (one serial queue).
void xpc_connection_set_target_queue(const xpc_connection_t& connection, dispatch::QueuePtr targetq);
void xpc_connection_resume(const xpc_connection_t& connection);
void xpc_connection_cancel(const xpc_connection_t& connection);
std::string xpc_connection_get_name(const xpc_connection_t& connection);
// A dictionary made by xpc_dictionary_create_reply completes the request it answers.
void xpc_connection_send_message(const xpc_connection_t& connection, const xpc_object_t& message);
// handler receives the reply or an error object exactly once, on replyq (or the connection's target
// queue when replyq is null).
void xpc_connection_send_message_with_reply(const xpc_connection_t& connection, const xpc_object_t& message,
                                            dispatch::QueuePtr replyq, xpc_handler_t handler);

// Linux: one message to the service named name on a connection of its own for this call alone
// (connection 0), waiting at most timeoutMs. The reply (with a reply wanted), an empty dictionary
// once the service took the message (without), or an error object: XPC_ERROR_CONNECTION_INVALID
// when the service is not there or refused the message, XPC_ERROR_CONNECTION_INTERRUPTED when no
// answer came in time. Blocks the calling thread; for command-line clients.
xpc_object_t xpc_send_once(const char* name, const xpc_object_t& message, bool wantReply, int timeoutMs);

} // namespace xpc
