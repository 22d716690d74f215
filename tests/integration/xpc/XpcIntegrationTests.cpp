// An XPC listener of this process on the test session's private bus, driven by stock D-Bus tools
// exactly as the binding documents it.

#include "HelperLink.h"

#include <unistd.h>

using namespace xpc;
using namespace glimra::test;

namespace {

QString serviceName(const char* suffix) {
    return QStringLiteral("app.glimra.test.xpc%1.%2").arg(getpid()).arg(QLatin1String(suffix));
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

} // namespace

TEST(XpcService, DrivenByStockGdbusAsDocumented) {
    const QString name = serviceName("gdbus");
    RecordingService service(name);
    ASSERT_TRUE(service.listener);
    EXPECT_EQ(xpc_connection_get_name(service.listener), name.toStdString());

    // A connection belongs to the process that made it and ends with it: nobody else may use it.
    int code = -1;
    QString r = gdbusCall(name, {"app.glimra.xpc.Listener.Connect"}, &code);
    ASSERT_EQ(code, 0) << r.toStdString();
    EXPECT_EQ(r, "(uint64 1,)");
    ASSERT_TRUE(waitUntil([&] { return service.connectionCount() == 1; }));
    EXPECT_TRUE(service.connection(0).second->waitForEvent(XPC_ERROR_CONNECTION_INVALID));
    r = gdbusCall(name, {"app.glimra.xpc.Listener.Send", "1", "{}"});
    EXPECT_TRUE(r.contains("app.glimra.xpc.Error.ConnectionInvalid")) << r.toStdString();

    // One-shot calls are served through the listener; every supported type arrives intact, an
    // unsupported one is dropped from the dictionary.
    r = gdbusCall(name,
                  {"app.glimra.xpc.Listener.SendWithReply", "0",
                   "{'id': <uint64 12>, 'n': <int64 -3>, 'bad': <int32 5>, 'title': <'Grüße'>, "
                   "'d': <[byte 0x01, 0x00, 0xff]>, 'flag': <true>, 'x': <2.5>}"},
                  &code);
    ASSERT_EQ(code, 0) << r.toStdString();
    EXPECT_EQ(r, "({'id': <uint64 13>},)");
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
    EXPECT_EQ(gdbusCall(name, {"app.glimra.xpc.Listener.SendWithReply", "0", "{}"}), "({'id': <uint64 1>},)");
    r = gdbusCall(name, {"app.glimra.xpc.Listener.Send", "18446744073709551615", "{'id': <uint64 2>}"});
    EXPECT_TRUE(r.contains("app.glimra.xpc.Error.ConnectionInvalid")) << r.toStdString();
    // gdbus checks arguments against the introspection data, dbus-send does not.
    Program wrongType("dbus-send", {"--session", "--print-reply", "--dest=" + name, "/xpc",
                                    "app.glimra.xpc.Listener.Send", "uint64:1", "string:not a dictionary"});
    ASSERT_TRUE(wrongType.waitForExit(10000));
    EXPECT_TRUE(wrongType.output().contains("org.freedesktop.DBus.Error.InvalidArgs"))
        << wrongType.output().toStdString();
    // Connection numbers are never reused, one-shot connections included.
    EXPECT_EQ(gdbusCall(name, {"app.glimra.xpc.Listener.Connect"}), "(uint64 4,)");

    // A request still unanswered when the service goes fails as interrupted.
    Program waiting("gdbus", {"call", "--session", "--dest", name, "--object-path", "/xpc", "--method",
                              "app.glimra.xpc.Listener.SendWithReply", "0", "{'id': <uint64 99>}"});
    ASSERT_TRUE(service.served->waitFor(3));
    xpc_connection_cancel(service.listener);
    ASSERT_TRUE(waiting.waitForExit(10000));
    EXPECT_TRUE(waiting.output().contains("app.glimra.xpc.Error.ConnectionInterrupted"))
        << waiting.output().toStdString();
}
