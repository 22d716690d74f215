// XPC between real processes on the test session's private bus. Each test runs in a process of its
// own (one listener per process), with service names of its own.

#include "HelperLink.h"
#include "xpc/Xpc.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace xpc;
using namespace glimra::test;

namespace {

QString serviceName(const char* suffix) {
    return QStringLiteral("app.glimra.test.xpc%1.%2").arg(getpid()).arg(QLatin1String(suffix));
}

// The other process runs under the same sanitizers; its reports would otherwise go unseen.
bool hasSanitizerReport(const QString& output) {
    return output.contains("WARNING: ThreadSanitizer") || output.contains("ERROR: AddressSanitizer") ||
           output.contains("runtime error:");
}

struct GdbusResult {
    int exitCode = -1;
    QString output;
};

GdbusResult gdbus(const QString& dest, const QStringList& methodAndArgs) {
    GdbusResult r;
    r.output = glimra::test::gdbusCall(dest, methodAndArgs, &r.exitCode);
    return r;
}

// A service whose handler records its connections and the messages served through the listener,
// and answers each request with id + 1, except requests with id 99, which it keeps unanswered.
class RecordingService {
public:
    using Entry = std::pair<xpc_connection_t, std::shared_ptr<EventLog>>;

    explicit RecordingService(const QString& name) {
        listener =
            xpc_connection_create_mach_service(name.toUtf8().constData(), dispatch::dispatch_get_main_queue(),
                                               XPC_CONNECTION_MACH_SERVICE_LISTENER);
        if (!listener)
            return;
        auto answer = [](const std::shared_ptr<EventLog>& recorder) {
            return [recorder](xpc_object_t e) {
                recorder->handler()(e);
                xpc_object_t reply = xpc_dictionary_create_reply(e);
                if (!reply || xpc_dictionary_get_uint64(e, "id") == 99)
                    return;
                xpc_dictionary_set_uint64(reply, "id", xpc_dictionary_get_uint64(e, "id") + 1);
                xpc_connection_send_message(xpc_dictionary_get_remote_connection(e), reply);
            };
        };
        xpc_connection_set_event_handler(
            listener, [state = state_, answer, servedHere = answer(served)](xpc_object_t event) {
                if (xpc_get_type(event) == xpc_type_t::Dictionary)
                    servedHere(event);
                if (xpc_get_type(event) != xpc_type_t::Connection)
                    return;
                auto recorder = std::make_shared<EventLog>();
                {
                    std::lock_guard lock(state->mutex);
                    state->connections.emplace_back(event, recorder);
                }
                xpc_connection_set_event_handler(event, answer(recorder));
                xpc_connection_resume(event);
            });
        xpc_connection_resume(listener);
    }
    ~RecordingService() { xpc_connection_cancel(listener); }

    Entry connection(size_t i) {
        std::lock_guard lock(state_->mutex);
        return i < state_->connections.size() ? state_->connections[i] : Entry{};
    }
    size_t connectionCount() {
        std::lock_guard lock(state_->mutex);
        return state_->connections.size();
    }

    xpc_connection_t listener;
    std::shared_ptr<EventLog> served = std::make_shared<EventLog>(); // through the listener

private:
    struct State {
        std::mutex mutex;
        std::vector<Entry> connections;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

QByteArray pattern(qsizetype size, int variant) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 2654435761u + variant) >> 13);
    return bytes;
}

} // namespace

TEST(XpcService, DrivenByStockGdbusAsDocumented) {
    const QString name = serviceName("gdbus");
    RecordingService service(name);
    ASSERT_TRUE(service.listener);
    EXPECT_EQ(xpc_connection_get_name(service.listener), name.toStdString());

    // A connection belongs to the process that made it and ends with it: nobody else may use it.
    GdbusResult r = gdbus(name, {"app.glimra.xpc.Listener.Connect"});
    ASSERT_EQ(r.exitCode, 0) << r.output.toStdString();
    EXPECT_EQ(r.output.trimmed(), "(uint64 1,)");
    ASSERT_TRUE(waitUntil([&] { return service.connectionCount() == 1; }));
    EXPECT_TRUE(service.connection(0).second->waitForEvent(XPC_ERROR_CONNECTION_INVALID));
    r = gdbus(name, {"app.glimra.xpc.Listener.Send", "1", "{}"});
    EXPECT_TRUE(r.output.contains("app.glimra.xpc.Error.ConnectionInvalid")) << r.output.toStdString();

    // One-shot calls are served through the listener; every supported type arrives intact, an
    // unsupported one is dropped from the dictionary.
    r = gdbus(name, {"app.glimra.xpc.Listener.SendWithReply", "0",
                     "{'id': <uint64 12>, 'n': <int64 -3>, 'bad': <int32 5>, 'title': <'Grüße'>, "
                     "'d': <[byte 0x01, 0x00, 0xff]>, 'flag': <true>, 'x': <2.5>}"});
    ASSERT_EQ(r.exitCode, 0) << r.output.toStdString();
    EXPECT_EQ(r.output.trimmed(), "({'id': <uint64 13>},)");
    ASSERT_TRUE(service.served->waitFor(1));
    const xpc_object_t m = service.served->events()[0];
    EXPECT_EQ(xpc_dictionary_get_uint64(m, "id"), 12u);
    EXPECT_EQ(xpc_dictionary_get_int64(m, "n"), -3);
    EXPECT_EQ(xpc_dictionary_get_uint64(m, "n"), 0u);
    EXPECT_EQ(xpc_dictionary_get_string(m, "title"), "Grüße");
    EXPECT_EQ(xpc_dictionary_get_data(m, "d"), QByteArray("\x01\x00\xff", 3));
    EXPECT_TRUE(xpc_dictionary_get_bool(m, "flag"));
    EXPECT_EQ(xpc_dictionary_get_double(m, "x"), 2.5);
    EXPECT_EQ(xpc_dictionary_get_count(m), 6u);
    EXPECT_EQ(xpc_get_type(xpc_dictionary_get_remote_connection(m)), xpc_type_t::Connection);
    EXPECT_EQ(service.connectionCount(), 1u);

    // An empty dictionary is a message like any other; its reply says id 1.
    r = gdbus(name, {"app.glimra.xpc.Listener.SendWithReply", "0", "{}"});
    EXPECT_EQ(r.output.trimmed(), "({'id': <uint64 1>},)");

    r = gdbus(name, {"app.glimra.xpc.Listener.Send", "18446744073709551615", "{'id': <uint64 2>}"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.output.contains("app.glimra.xpc.Error.ConnectionInvalid")) << r.output.toStdString();
    // gdbus checks arguments against the introspection data, dbus-send does not.
    Program wrongType("dbus-send", {"--session", "--print-reply", "--dest=" + name, "/xpc",
                                    "app.glimra.xpc.Listener.Send", "uint64:1", "string:not a dictionary"});
    ASSERT_TRUE(wrongType.waitForExit(10000));
    EXPECT_TRUE(wrongType.output().contains("org.freedesktop.DBus.Error.InvalidArgs"))
        << wrongType.output().toStdString();
    // Connection numbers are never reused, one-shot connections included.
    EXPECT_EQ(gdbus(name, {"app.glimra.xpc.Listener.Connect"}).output.trimmed(), "(uint64 4,)");

    // A request still unanswered when the service goes fails as interrupted.
    Program waiting("gdbus", {"call", "--session", "--dest", name, "--object-path", "/xpc", "--method",
                              "app.glimra.xpc.Listener.SendWithReply", "0", "{'id': <uint64 99>}"});
    ASSERT_TRUE(service.served->waitFor(3));
    xpc_connection_cancel(service.listener);
    ASSERT_TRUE(waiting.waitForExit(10000));
    EXPECT_TRUE(waiting.output().contains("app.glimra.xpc.Error.ConnectionInterrupted"))
        << waiting.output().toStdString();
}

TEST(XpcService, SecondListenerForAnOwnedNameIsRefused) {
    const QString name = serviceName("taken");
    glimra::test::BusClient other;
    ASSERT_TRUE(other.ownName(name));
    EXPECT_EQ(xpc_connection_create_mach_service(name.toUtf8().constData(), nullptr,
                                                 XPC_CONNECTION_MACH_SERVICE_LISTENER),
              nullptr);
}

TEST(XpcService, AKilledClientEndsItsConnectionsAndPendingReplies) {
    const QString name = serviceName("death");
    RecordingService service(name);
    ASSERT_TRUE(service.listener);
    Program client(XPC_TEST_PEER, {"client", name});
    ASSERT_TRUE(client.waitForLogLine("connected", 10000)) << client.output().toStdString();
    auto [connection, events] = service.connection(0);
    ASSERT_TRUE(connection);
    EXPECT_EQ(xpc_dictionary_get_string(events->events().at(0), "hello"), "from a client");

    // A request the client holds, then large sends in flight as it dies.
    EventLog reply;
    xpc_object_t question = xpc_dictionary_create();
    xpc_dictionary_set_uint64(question, "id", 3);
    xpc_connection_send_message_with_reply(connection, question, nullptr, reply.handler());
    ASSERT_TRUE(client.waitForLogLine("holding"));
    xpc_object_t big = xpc_dictionary_create();
    xpc_dictionary_set_data(big, "data", pattern(8 * 1024 * 1024, 1));
    for (int i = 0; i < 3; ++i)
        xpc_connection_send_message(connection, big);
    EXPECT_FALSE(hasSanitizerReport(client.output())) << client.output().toStdString();
    ::kill(pid_t(client.pid()), SIGKILL);

    EXPECT_TRUE(events->waitForEvent(XPC_ERROR_CONNECTION_INVALID));
    ASSERT_TRUE(reply.waitFor(1));
    EXPECT_EQ(reply.last(), XPC_ERROR_CONNECTION_INVALID);
    // Sends on the ended connection fail quietly; replies report it.
    EXPECT_EQ(sendAndWait(connection, question), XPC_ERROR_CONNECTION_INVALID);
}

class XpcClient : public ::testing::Test {
protected:
    void SetUp() override {
        name = serviceName("echo");
        service = std::make_unique<Program>(XPC_TEST_PEER, QStringList{"service", name});
        ASSERT_TRUE(service->waitForLogLine("listening")) << service->output().toStdString();
        connection = xpc_connection_create_mach_service(name.toUtf8().constData(), nullptr, 0);
        xpc_connection_set_event_handler(connection, events.handler());
        xpc_connection_resume(connection);
    }
    void TearDown() override {
        // The handler records into this fixture: nothing may arrive after it is gone.
        xpc_connection_cancel(connection);
        EXPECT_TRUE(events.waitForEvent(XPC_ERROR_CONNECTION_INVALID));
        EXPECT_FALSE(hasSanitizerReport(service->output())) << service->output().toStdString();
    }

    QString name;
    std::unique_ptr<Program> service;
    xpc_connection_t connection;
    EventLog events;
};

TEST_F(XpcClient, DataRoundTripsAcrossTheInlineLimitAndAt30MB) {
    for (qsizetype size : {qsizetype(0), qsizetype(65536), qsizetype(65537), qsizetype(30'000'000)}) {
        const QByteArray data = pattern(size, int(size));
        xpc_object_t m = xpc_dictionary_create();
        xpc_dictionary_set_uint64(m, "id", 7);
        xpc_dictionary_set_data(m, "data", data);
        xpc_dictionary_set_int64(m, "int64", std::numeric_limits<int64_t>::min());
        xpc_dictionary_set_uint64(m, "max", std::numeric_limits<uint64_t>::max());
        QElapsedTimer timer;
        timer.start();
        const xpc_object_t reply = sendAndWait(connection, m);
        const qint64 ms = timer.elapsed();
        ASSERT_EQ(xpc_get_type(reply), xpc_type_t::Dictionary) << size;
        EXPECT_TRUE(xpc_dictionary_get_bool(reply, "echo"));
        EXPECT_EQ(xpc_dictionary_get_data(reply, "data"), data) << size;
        EXPECT_EQ(xpc_dictionary_get_int64(reply, "int64"), std::numeric_limits<int64_t>::min());
        EXPECT_EQ(xpc_dictionary_get_uint64(reply, "max"), std::numeric_limits<uint64_t>::max());
        EXPECT_EQ(xpc_dictionary_get_remote_connection(reply), connection);
        std::printf("round trip of %lld bytes of data: %lld ms\n", static_cast<long long>(size),
                    static_cast<long long>(ms));
    }
    // A 10 MB string is just a long string.
    xpc_object_t m = xpc_dictionary_create();
    xpc_dictionary_set_string(m, "title", std::string(10 * 1024 * 1024, 't'));
    EXPECT_EQ(xpc_dictionary_get_string(sendAndWait(connection, m), "title").size(), 10u * 1024 * 1024);
}

TEST_F(XpcClient, ServiceSendsBackWithAndWithoutReply) {
    xpc_object_t echo = xpc_dictionary_create();
    xpc_dictionary_set_string(echo, "cmd", "echo");
    xpc_dictionary_set_data(echo, "data", pattern(100000, 5));
    xpc_connection_send_message(connection, echo);
    ASSERT_TRUE(events.waitFor(1));
    xpc_object_t received = events.events()[0];
    EXPECT_EQ(xpc_dictionary_get_data(received, "data"), pattern(100000, 5));
    EXPECT_EQ(xpc_dictionary_create_reply(received), nullptr);
    EXPECT_EQ(xpc_dictionary_get_remote_connection(received), connection);

    // The service asks with a reply handler; our reply completes its call.
    xpc_connection_set_event_handler(connection, [this](xpc_object_t event) {
        if (xpc_object_t reply = xpc_dictionary_create_reply(event)) {
            xpc_dictionary_set_bool(reply, "bool", true);
            xpc_dictionary_set_uint64(reply, "id", xpc_dictionary_get_uint64(event, "id") * 10);
            xpc_connection_send_message(xpc_dictionary_get_remote_connection(event), reply);
        }
        events.handler()(event);
    });
    xpc_object_t ask = xpc_dictionary_create();
    xpc_dictionary_set_string(ask, "cmd", "ask");
    xpc_dictionary_set_uint64(ask, "id", 3);
    xpc_connection_send_message(connection, ask);
    ASSERT_TRUE(events.waitFor(3));
    const xpc_object_t report = events.events()[2];
    EXPECT_TRUE(xpc_dictionary_get_bool(report, "answered"));
    EXPECT_TRUE(xpc_dictionary_get_bool(report, "bool"));
    EXPECT_EQ(xpc_dictionary_get_uint64(report, "id"), 30u);
}

TEST_F(XpcClient, ServiceCancelDeathAndAbsenceReachTheClient) {
    xpc_object_t hello = xpc_dictionary_create();
    ASSERT_EQ(xpc_get_type(sendAndWait(connection, hello)), xpc_type_t::Dictionary);

    // The service cancels its side: the next message finds the connection gone.
    xpc_object_t cancel = xpc_dictionary_create();
    xpc_dictionary_set_string(cancel, "cmd", "cancel");
    xpc_connection_send_message(connection, cancel);
    ASSERT_TRUE(service->waitForLogLine("error invalid"));
    EXPECT_EQ(sendAndWait(connection, hello), XPC_ERROR_CONNECTION_INVALID);
    EXPECT_TRUE(events.waitForEvent(XPC_ERROR_CONNECTION_INVALID));

    // A fresh connection, then the service dies with a request unanswered.
    EventLog second;
    xpc_connection_t other = xpc_connection_create_mach_service(name.toUtf8().constData(), nullptr, 0);
    xpc_connection_set_event_handler(other, second.handler());
    xpc_connection_resume(other);
    ASSERT_EQ(xpc_get_type(sendAndWait(other, hello)), xpc_type_t::Dictionary);
    EventLog held;
    xpc_object_t hold = xpc_dictionary_create();
    xpc_dictionary_set_string(hold, "cmd", "hold");
    xpc_connection_send_message_with_reply(other, hold, nullptr, held.handler());
    ASSERT_TRUE(service->waitForLogLine("holding"));
    EXPECT_FALSE(hasSanitizerReport(service->output())) << service->output().toStdString();
    ::kill(pid_t(service->pid()), SIGKILL);
    EXPECT_TRUE(second.waitForEvent(XPC_ERROR_CONNECTION_INTERRUPTED));
    ASSERT_TRUE(held.waitFor(1));
    EXPECT_EQ(held.last(), XPC_ERROR_CONNECTION_INTERRUPTED);

    // Interrupted is not the end: a new service under the name is reached by the next message.
    service = std::make_unique<Program>(XPC_TEST_PEER, QStringList{"service", name});
    ASSERT_TRUE(service->waitForLogLine("listening"));
    EXPECT_EQ(xpc_get_type(sendAndWait(other, hello)), xpc_type_t::Dictionary);
    xpc_connection_cancel(other);
    EXPECT_TRUE(second.waitForEvent(XPC_ERROR_CONNECTION_INVALID));
    EXPECT_TRUE(
        waitUntil([&] { return service->output().count("error invalid") == 1; })); // hears of the cancel

    // Nobody owns the name: the connection is refused.
    EventLog nowhere;
    xpc_connection_t absent = xpc_connection_create_mach_service("app.glimra.test.nobody.here", nullptr, 0);
    xpc_connection_set_event_handler(absent, nowhere.handler());
    xpc_connection_resume(absent);
    EXPECT_EQ(sendAndWait(absent, hello), XPC_ERROR_CONNECTION_INVALID);
    EXPECT_TRUE(nowhere.waitForEvent(XPC_ERROR_CONNECTION_INVALID));
}

TEST_F(XpcClient, SendsFromManyQueuesKeepEachQueuesOrder) {
    constexpr int kQueues = 4;
    constexpr int kPerQueue = 100;
    std::vector<dispatch::QueuePtr> queues;
    std::mutex mutex;
    std::vector<std::vector<uint64_t>> replies(kQueues);
    for (int q = 0; q < kQueues; ++q)
        queues.push_back(dispatch::dispatch_queue_create("test.sender." + std::to_string(q)));
    for (int q = 0; q < kQueues; ++q)
        dispatch::dispatch_async(queues[q], [&, q] {
            for (int i = 0; i < kPerQueue; ++i) {
                xpc_object_t m = xpc_dictionary_create();
                xpc_dictionary_set_uint64(m, "seq", uint64_t(i));
                if (i % 3 == 0)
                    xpc_dictionary_set_data(m, "data", pattern(70000, i)); // through a memfd
                xpc_connection_send_message_with_reply(connection, m, queues[q], [&, q](xpc_object_t reply) {
                    std::lock_guard lock(mutex);
                    replies[q].push_back(xpc_dictionary_get_uint64(reply, "seq"));
                });
                xpc_object_t echo = xpc_dictionary_create();
                xpc_dictionary_set_string(echo, "cmd", "echo");
                xpc_connection_send_message(connection, echo);
            }
        });
    ASSERT_TRUE(waitUntil(
        [&] {
            std::lock_guard lock(mutex);
            for (const auto& r : replies)
                if (r.size() < size_t(kPerQueue))
                    return false;
            return true;
        },
        60000));
    for (const auto& r : replies)
        for (int i = 0; i < kPerQueue; ++i)
            EXPECT_EQ(r[i], uint64_t(i));
    EXPECT_TRUE(events.waitFor(kQueues * kPerQueue, 30000));
}
