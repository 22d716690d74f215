#pragma once
// The object classes behind xpc_object_t. Internal to the xpc library and its tests.

#include "xpc/Xpc.h"

#include <QDBusMessage>

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <variant>

namespace xpc {

class Connection;

// A request that came with a reply expected. Touched only on the bus thread once delivered.
struct ReplyContext {
    QDBusMessage request; // a request to a client, as QtDBus delivered it
    // A request to the service: all that addresses its answer, and nothing of its body.
    QString caller;
    uint32_t serial = 0;
    std::weak_ptr<Connection> connection;
    bool answered = false;
    bool abandoned = false; // nobody can answer it any more
};

// Keeps a request answerable: held by the request as delivered and by any reply made from it. When
// the last holder goes and no answer was sent, nobody can answer the request any more: onAbandoned
// learns of it (on whatever thread that happens).
class ReplyTicket {
public:
    using Abandoned = std::function<void(const std::shared_ptr<ReplyContext>&)>;
    ReplyTicket(std::shared_ptr<ReplyContext> context, Abandoned onAbandoned)
        : context(std::move(context)), onAbandoned_(std::move(onAbandoned)) {}
    ~ReplyTicket() {
        if (onAbandoned_)
            onAbandoned_(context);
    }
    ReplyTicket(const ReplyTicket&) = delete;
    ReplyTicket& operator=(const ReplyTicket&) = delete;

    const std::shared_ptr<ReplyContext> context;

private:
    Abandoned onAbandoned_;
};

// A reply handler waiting for its answer; completed exactly once, on the bus thread.
struct PendingReply {
    xpc_handler_t handler;
    dispatch::QueuePtr queue;
    bool done = false;
    void complete(xpc_object_t result);
};

// A read-only mapping of a sealed memfd: nobody can shrink or change it while it is mapped.
class MappedFile {
public:
    // Null when fd cannot be mapped; the caller has checked the seals and the size.
    static std::shared_ptr<const MappedFile> map(int fd, size_t size);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    const char* data() const { return static_cast<const char*>(address_); }

private:
    MappedFile(void* address, size_t size) : address_(address), size_(size) {}
    void* address_;
    size_t size_;
};

// The bytes of a data value: owned, or a view of a mapping that lives as long as any copy.
struct Data {
    QByteArray bytes;
    std::shared_ptr<const MappedFile> mapping;
};

class Dictionary final : public Object {
public:
    using Value = std::variant<uint64_t, int64_t, bool, double, std::string, Data>;
    using Entries = std::map<std::string, Value>;

    xpc_type_t type() const override { return xpc_type_t::Dictionary; }
    std::string description() const override;

    void set(std::string key, Value value);
    std::optional<Value> get(const std::string& key) const;
    template <typename T> T getAs(const std::string& key) const {
        std::lock_guard lock(mutex_);
        const auto it = entries_.find(key);
        if (it == entries_.end())
            return T{};
        const T* value = std::get_if<T>(&it->second);
        return value ? *value : T{};
    }
    void setData(std::string key, QByteArray bytes) { set(std::move(key), Data{std::move(bytes), nullptr}); }
    // A copy of the bytes the caller owns (mapped bytes are copied out); empty for other types.
    QByteArray data(const std::string& key) const;
    // The bytes in place: valid while the dictionary lives and the key is not set again.
    const void* dataPointer(const std::string& key, size_t* length) const;
    Entries entries() const;
    size_t count() const;

    // Set before the dictionary is handed to anyone, then never changed.
    std::shared_ptr<Connection> remoteConnection;
    std::shared_ptr<ReplyTicket> awaitingReply; // a received request that wants a reply
    std::shared_ptr<ReplyTicket> answers;       // a reply: the request it completes

private:
    mutable std::mutex mutex_;
    Entries entries_;
};

class Error final : public Object {
public:
    explicit Error(std::string text) : text_(std::move(text)) {}
    xpc_type_t type() const override { return xpc_type_t::Error; }
    std::string description() const override;

private:
    const std::string text_;
};

// Event delivery of one connection: held while suspended, then handed to the target queue in order.
// XPC_ERROR_CONNECTION_INVALID is the last event; the handler is released after it.
class Connection final : public Object, public std::enable_shared_from_this<Connection> {
public:
    enum class Kind { Listener, Peer, Client };

    Connection(Kind kind, std::string name, dispatch::QueuePtr target);

    xpc_type_t type() const override { return xpc_type_t::Connection; }
    std::string description() const override;

    Kind kind() const { return kind_; }
    const std::string& name() const { return name_; }

    void setHandler(xpc_handler_t handler);
    void setTargetQueue(dispatch::QueuePtr target);
    // The target queue, or the XPC default target queue.
    dispatch::QueuePtr deliveryQueue() const;
    // True the first time only.
    bool resume();
    bool isResumed() const;
    void deliver(xpc_object_t event);

private:
    void post(const dispatch::QueuePtr& queue, xpc_object_t event);
    void invoke(const xpc_object_t& event);

    const Kind kind_;
    const std::string name_;
    mutable std::mutex mutex_;
    xpc_handler_t handler_;
    dispatch::QueuePtr target_;
    bool resumed_ = false;
    bool finished_ = false;
    std::deque<xpc_object_t> held_;
};

// The one serial queue on which connections without a target queue deliver their events.
const dispatch::QueuePtr& defaultTargetQueue();

std::shared_ptr<Dictionary> asDictionary(const xpc_object_t& object);
std::shared_ptr<Connection> asConnection(const xpc_object_t& object);

} // namespace xpc
