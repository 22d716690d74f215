#include "xpc/XpcObjects.h"

#include <cstdio>
#include <fcntl.h>
#include <sstream>
#include <sys/mman.h>

namespace xpc {
namespace {

// Descriptions end up in log lines; a 10 MB string should not.
constexpr size_t kDescribedStringLimit = 200;

std::string describeValue(const Dictionary::Value& value) {
    std::ostringstream out;
    std::visit(
        [&out](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, uint64_t>)
                out << "<uint64: " << v << ">";
            else if constexpr (std::is_same_v<T, int64_t>)
                out << "<int64: " << v << ">";
            else if constexpr (std::is_same_v<T, bool>)
                out << "<bool: " << (v ? "true" : "false") << ">";
            else if constexpr (std::is_same_v<T, double>)
                out << "<double: " << v << ">";
            else if constexpr (std::is_same_v<T, std::string>) {
                out << "<string: \"" << v.substr(0, kDescribedStringLimit)
                    << (v.size() > kDescribedStringLimit ? "...\" (" + std::to_string(v.size()) + " bytes)>"
                                                         : "\">");
            } else
                out << "<data: " << v.bytes.size() << " bytes>";
        },
        value);
    return out.str();
}

} // namespace

std::string Dictionary::description() const {
    std::lock_guard lock(mutex_);
    std::string out = "<dictionary: { count = " + std::to_string(entries_.size());
    for (const auto& [key, value] : entries_)
        out += ", \"" + key.substr(0, kDescribedStringLimit) + "\" => " + describeValue(value);
    return out + " }>";
}

void Dictionary::set(std::string key, Value value) {
    std::lock_guard lock(mutex_);
    entries_.insert_or_assign(std::move(key), std::move(value));
}

std::optional<Dictionary::Value> Dictionary::get(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(key);
    if (it == entries_.end())
        return std::nullopt;
    return it->second;
}

QByteArray Dictionary::data(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(key);
    const Data* data = it == entries_.end() ? nullptr : std::get_if<Data>(&it->second);
    if (!data)
        return {};
    return data->mapping ? QByteArray(data->bytes.constData(), data->bytes.size()) : data->bytes;
}

const void* Dictionary::dataPointer(const std::string& key, size_t* length) const {
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(key);
    const Data* data = it == entries_.end() ? nullptr : std::get_if<Data>(&it->second);
    if (length)
        *length = data ? size_t(data->bytes.size()) : 0;
    return data ? data->bytes.constData() : nullptr;
}

std::shared_ptr<const MappedFile> MappedFile::map(int fd, size_t size) {
    // No MAP_POPULATE: a page costs something only once somebody reads it.
    void* address = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED)
        return nullptr;
    return std::shared_ptr<const MappedFile>(new MappedFile(address, size));
}

MappedFile::~MappedFile() {
    ::munmap(address_, size_);
}

Dictionary::Entries Dictionary::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

size_t Dictionary::count() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void PendingReply::complete(xpc_object_t result) {
    if (done)
        return;
    done = true;
    queue->async([handler = std::move(handler), result = std::move(result)] {
        if (handler)
            handler(result);
    });
}

std::string Error::description() const {
    return "<error: { description = \"" + text_ + "\" }>";
}

Connection::Connection(Kind kind, std::string name, dispatch::QueuePtr target)
    : kind_(kind), name_(std::move(name)), target_(std::move(target)) {}

std::string Connection::description() const {
    const char* kind = kind_ == Kind::Listener ? "listener" : kind_ == Kind::Peer ? "peer" : "client";
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    std::lock_guard lock(mutex_);
    return std::string("<connection: ") + address + " { name = " + name_ + ", kind = " + kind + ", state = " +
           (finished_  ? "invalid"
            : resumed_ ? "active"
                       : "suspended") +
           " }>";
}

void Connection::setHandler(xpc_handler_t handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void Connection::setTargetQueue(dispatch::QueuePtr target) {
    std::lock_guard lock(mutex_);
    target_ = std::move(target);
}

dispatch::QueuePtr Connection::deliveryQueue() const {
    std::lock_guard lock(mutex_);
    return target_ ? target_ : defaultTargetQueue();
}

bool Connection::resume() {
    std::lock_guard lock(mutex_);
    if (resumed_)
        return false;
    resumed_ = true;
    const dispatch::QueuePtr& queue = target_ ? target_ : defaultTargetQueue();
    // Posted under the lock so that later deliveries cannot overtake the held ones.
    for (xpc_object_t& event : held_)
        post(queue, std::move(event));
    held_.clear();
    return true;
}

bool Connection::isResumed() const {
    std::lock_guard lock(mutex_);
    return resumed_;
}

void Connection::deliver(xpc_object_t event) {
    std::lock_guard lock(mutex_);
    if (finished_)
        return;
    if (event == XPC_ERROR_CONNECTION_INVALID)
        finished_ = true;
    if (!resumed_) {
        held_.push_back(std::move(event));
        return;
    }
    post(target_ ? target_ : defaultTargetQueue(), std::move(event));
}

void Connection::post(const dispatch::QueuePtr& queue, xpc_object_t event) {
    queue->async([self = shared_from_this(), event = std::move(event)] { self->invoke(event); });
}

void Connection::invoke(const xpc_object_t& event) {
    xpc_handler_t handler;
    {
        std::lock_guard lock(mutex_);
        handler = handler_;
        if (event == XPC_ERROR_CONNECTION_INVALID)
            handler_ = nullptr; // breaks the cycle of a handler that holds its own connection
    }
    if (handler)
        handler(event);
}

const dispatch::QueuePtr& defaultTargetQueue() {
    // Never destroyed: the bus thread may still deliver an ending link's last event while the process's
    // statics go at exit, and would post to a freed queue.
    static const auto* const queue =
        new dispatch::QueuePtr(dispatch::dispatch_queue_create("xpc.default-target-queue"));
    return *queue;
}

std::shared_ptr<Dictionary> asDictionary(const xpc_object_t& object) {
    return object && object->type() == xpc_type_t::Dictionary ? std::static_pointer_cast<Dictionary>(object)
                                                              : nullptr;
}

std::shared_ptr<Connection> asConnection(const xpc_object_t& object) {
    return object && object->type() == xpc_type_t::Connection ? std::static_pointer_cast<Connection>(object)
                                                              : nullptr;
}

} // namespace xpc
