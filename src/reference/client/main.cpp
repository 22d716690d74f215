// Sends one message to the helper, as a one-shot call (connection 0), and prints the reply. Usage:
//   glimra-xpc-send [--reply] [--timeout MS] KEY=TYPE:VALUE ...
// TYPE is u (uint64), i (int64), b (bool: true/false), d (double), s (string) or f (data read from a
// file). Example: glimra-xpc-send --reply id=u:12
// Exit status: 0 sent (and answered), 1 bad arguments, 2 connection error, 3 no reply in time.

#include "xpc/Xpc.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

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

    // A connection of its own would make nothing better: the helper sends nothing unasked to a
    // client that is not the main application, and the connection would end with this process.
    const xpc_object_t reply = xpc_send_once("app.glimra.GlimraHelper", message, wantReply, timeoutMs);
    if (xpc_get_type(reply) != xpc_type_t::Dictionary) {
        const bool late = reply == XPC_ERROR_CONNECTION_INTERRUPTED;
        std::fprintf(stderr, "glimra-xpc-send: %s\n",
                     late ? "no reply" : xpc_copy_description(reply).c_str());
        return late ? 3 : 2;
    }
    if (wantReply)
        std::printf("%s\n", xpc_copy_description(reply).c_str());
    return 0;
}
