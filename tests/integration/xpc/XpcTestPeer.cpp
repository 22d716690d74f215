// The other process of the XPC tests.
//   xpc_test_peer service NAME   listens as NAME; answers every request with a copy of it plus
//                                "echo" = true; messages without reply act on their "cmd":
//                                "echo" sends a copy back, "ask" sends a copy with a reply handler and
//                                reports the answer, "cancel" cancels the connection; requests whose
//                                "cmd" is "hold" are never answered.
//   xpc_test_peer client NAME    connects to NAME, says hello, and holds every request it receives.
// Each event is printed as one line on stdout.

#include "xpc/Xpc.h"
#include "xpc/XpcObjects.h"

#include <QCoreApplication>

#include <cstdio>
#include <mutex>
#include <vector>

using namespace xpc;

namespace {

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::string errorName(const xpc_object_t& e) {
    return e == XPC_ERROR_CONNECTION_INVALID       ? "invalid"
           : e == XPC_ERROR_CONNECTION_INTERRUPTED ? "interrupted"
                                                   : xpc_copy_description(e);
}

void copyInto(const xpc_object_t& from, const xpc_object_t& to) {
    auto source = std::static_pointer_cast<Dictionary>(from);
    auto target = std::static_pointer_cast<Dictionary>(to);
    for (auto& [key, value] : source->entries())
        if (key != "cmd")
            target->set(key, value);
}

void serveConnection(const xpc_connection_t& connection, const xpc_object_t& event) {
    if (xpc_get_type(event) == xpc_type_t::Error) {
        say("error " + errorName(event));
        return;
    }
    const std::string cmd = xpc_dictionary_get_string(event, "cmd");
    if (xpc_object_t reply = xpc_dictionary_create_reply(event)) {
        if (cmd == "hold") {
            say("holding");
            return;
        }
        copyInto(event, reply);
        xpc_dictionary_set_bool(reply, "echo", true);
        xpc_connection_send_message(xpc_dictionary_get_remote_connection(event), reply);
        return;
    }
    if (cmd == "echo") {
        xpc_object_t copy = xpc_dictionary_create();
        copyInto(event, copy);
        xpc_connection_send_message(connection, copy);
    } else if (cmd == "ask") {
        xpc_object_t question = xpc_dictionary_create();
        copyInto(event, question);
        xpc_connection_send_message_with_reply(
            connection, question, nullptr, [connection](xpc_object_t answer) {
                xpc_object_t report = xpc_dictionary_create();
                if (xpc_get_type(answer) == xpc_type_t::Dictionary)
                    copyInto(answer, report);
                else
                    xpc_dictionary_set_string(report, "error", errorName(answer));
                xpc_dictionary_set_bool(report, "answered", true);
                xpc_connection_send_message(connection, report);
            });
    } else if (cmd == "cancel") {
        xpc_connection_cancel(connection);
    }
}

int runService(const char* name) {
    xpc_connection_t listener = xpc_connection_create_mach_service(name, dispatch::dispatch_get_main_queue(),
                                                                   XPC_CONNECTION_MACH_SERVICE_LISTENER);
    if (!listener) {
        say("cannot listen");
        return 3;
    }
    xpc_connection_set_event_handler(listener, [](xpc_object_t event) {
        if (xpc_get_type(event) != xpc_type_t::Connection)
            return;
        xpc_connection_t connection = event;
        xpc_connection_set_event_handler(connection,
                                         [connection](xpc_object_t e) { serveConnection(connection, e); });
        xpc_connection_resume(connection);
        say("connection");
    });
    xpc_connection_resume(listener);
    say("listening");
    return QCoreApplication::exec();
}

int runClient(const char* name) {
    static std::mutex mutex;
    static std::vector<xpc_object_t> held;
    xpc_connection_t connection = xpc_connection_create_mach_service(name, nullptr, 0);
    xpc_connection_set_event_handler(connection, [](xpc_object_t event) {
        if (xpc_get_type(event) == xpc_type_t::Error) {
            say("error " + errorName(event));
        } else if (xpc_dictionary_create_reply(event)) {
            std::lock_guard lock(mutex);
            held.push_back(event);
            say("holding");
        } else {
            say("message " + std::to_string(xpc_dictionary_get_data(event, "data").size()));
        }
    });
    xpc_connection_resume(connection);
    xpc_object_t hello = xpc_dictionary_create();
    xpc_dictionary_set_uint64(hello, "id", 1);
    xpc_dictionary_set_string(hello, "hello", "from a client");
    xpc_connection_send_message_with_reply(connection, hello, nullptr, [](xpc_object_t reply) {
        say(xpc_get_type(reply) == xpc_type_t::Dictionary ? "connected" : "error " + errorName(reply));
    });
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::string(argv[1]) == "service")
        return runService(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "client")
        return runClient(argv[2]);
    std::fprintf(stderr, "usage: %s service|client NAME\n", argv[0]);
    return 2;
}
