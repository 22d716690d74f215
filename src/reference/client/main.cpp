// Sends one message to the helper and prints the reply. Usage:
//   glimra-xpc-send [--reply] [--timeout MS] KEY=TYPE:VALUE ...
// TYPE is u (uint64), i (int64), b (bool: true/false), d (double), s (string) or f (data read from a
// file). Example: glimra-xpc-send --reply id=u:12
// Exit status: 0 sent (and answered), 1 bad arguments, 2 connection error, 3 no reply in time.

#include "xpc/Xpc.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTimer>

#include <cstdio>

using namespace xpc;

namespace {

bool addValue(const xpc_object_t& message, const QString& argument) {
    const qsizetype eq = argument.indexOf(u'=');
    const qsizetype colon = argument.indexOf(u':', eq + 1);
    if (eq <= 0 || colon != eq + 2)
        return false;
    const std::string key = argument.left(eq).toStdString();
    const QChar type = argument.at(eq + 1);
    const QString value = argument.mid(colon + 1);
    bool ok = true;
    switch (type.toLatin1()) {
    case 'u':
        xpc_dictionary_set_uint64(message, key.c_str(), value.toULongLong(&ok));
        break;
    case 'i':
        xpc_dictionary_set_int64(message, key.c_str(), value.toLongLong(&ok));
        break;
    case 'b':
        ok = value == u"true" || value == u"false";
        xpc_dictionary_set_bool(message, key.c_str(), value == u"true");
        break;
    case 'd':
        xpc_dictionary_set_double(message, key.c_str(), value.toDouble(&ok));
        break;
    case 's':
        xpc_dictionary_set_string(message, key.c_str(), value.toStdString());
        break;
    case 'f': {
        QFile file(value);
        ok = file.open(QIODevice::ReadOnly);
        if (ok)
            xpc_dictionary_set_data(message, key.c_str(), file.readAll());
        break;
    }
    default:
        ok = false;
    }
    return ok;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    bool wantReply = false;
    int timeoutMs = 5000;
    xpc_object_t message = xpc_dictionary_create();
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == u"--reply") {
            wantReply = true;
        } else if (args[i] == u"--timeout" && i + 1 < args.size()) {
            timeoutMs = args[++i].toInt();
        } else if (!addValue(message, args[i])) {
            std::fprintf(stderr, "glimra-xpc-send: cannot read %s (want KEY=TYPE:VALUE)\n",
                         qPrintable(args[i]));
            return 1;
        }
    }

    xpc_connection_t connection =
        xpc_connection_create_mach_service("app.glimra.GlimraHelper", dispatch::dispatch_get_main_queue(), 0);
    if (!connection)
        return 2;
    xpc_connection_set_event_handler(connection, [](xpc_object_t event) {
        if (xpc_get_type(event) == xpc_type_t::Error) {
            std::fprintf(stderr, "glimra-xpc-send: %s\n", xpc_copy_description(event).c_str());
            QCoreApplication::exit(2);
        }
    });
    xpc_connection_resume(connection);
    QTimer::singleShot(timeoutMs, [] {
        std::fprintf(stderr, "glimra-xpc-send: no reply\n");
        QCoreApplication::exit(3);
    });
    if (!wantReply) {
        xpc_connection_send_message(connection, message);
        // Let the message leave before the connection goes.
        QTimer::singleShot(200, [] { QCoreApplication::exit(0); });
        return QCoreApplication::exec();
    }
    xpc_connection_send_message_with_reply(
        connection, message, dispatch::dispatch_get_main_queue(), [](xpc_object_t reply) {
            std::printf("%s\n", xpc_copy_description(reply).c_str());
            std::fflush(stdout);
            QCoreApplication::exit(xpc_get_type(reply) == xpc_type_t::Dictionary ? 0 : 2);
        });
    return QCoreApplication::exec();
}
