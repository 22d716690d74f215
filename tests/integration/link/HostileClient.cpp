// A client of the helper that does what a hostile or careless program on the session bus could.
// Speaks D-Bus directly, never through the XPC binding (except "rogue"). Prints one line per event.
//   link_hostile_client unanswered N       connects, then sends N requests the helper never answers,
//                                          each with 256 KiB inline and 16 sealed memfds; prints
//                                          "sent" and then the error name of every request that fails
//   link_hostile_client pile N [NAME]      owns NAME if given, connects N times, prints "connected"
//                                          and exits
//   link_hostile_client rogue              an XPC client that exports its peer object, then tries to
//                                          cancel connections 1 to 20; prints "cancel refused" per
//                                          refusal and "message" for anything the helper sends it

#include "xpc/Xpc.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const QString kHelper = "app.glimra.GlimraHelper";

void say(const QString& line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

QDBusMessage listenerCall(const QString& member, const QVariantList& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(kHelper, "/xpc", "app.glimra.xpc.Listener", member);
    call.setArguments(arguments);
    return call;
}

QDBusUnixFileDescriptor sealedMemfd(off_t size) {
    const int fd = memfd_create("hostile", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (ftruncate(fd, size) != 0 || fcntl(fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW) != 0)
        say("cannot make a memfd");
    QDBusUnixFileDescriptor result(fd); // a duplicate
    close(fd);
    return result;
}

// Sends call without waiting; done receives the answer.
void callAsync(const QDBusMessage& call, std::function<void(const QDBusMessage&)> done) {
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, INT_MAX));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [watcher, done] {
        watcher->deleteLater();
        done(watcher->reply());
    });
}

int unanswered(int count) {
    const qulonglong id = QDBusReply<qulonglong>(QDBusConnection::sessionBus().call(listenerCall("Connect")));
    const QDBusUnixFileDescriptor data = sealedMemfd(1 << 20);
    for (int i = 0; i < count; ++i) {
        QVariantMap message{{QStringLiteral("id"), QVariant::fromValue<qulonglong>(0)},
                            {QStringLiteral("inline"), QByteArray(256 << 10, 'x')}};
        for (int f = 0; f < 16; ++f)
            message.insert(QStringLiteral("fd%1").arg(f), QVariant::fromValue(data));
        callAsync(listenerCall("SendWithReply", {id, message}),
                  [](const QDBusMessage& answer) { say("error " + answer.errorName()); });
    }
    say("sent");
    return QCoreApplication::exec();
}

int pile(int count, const QString& name) {
    if (!name.isEmpty() && QDBusConnection::sessionBus().interface()->registerService(name) !=
                               QDBusConnectionInterface::ServiceRegistered)
        say("cannot own " + name);
    auto left = std::make_shared<int>(count);
    for (int i = 0; i < count; ++i)
        callAsync(listenerCall("Connect"), [left](const QDBusMessage&) {
            if (--*left == 0) {
                say("connected");
                QCoreApplication::exit(0);
            }
        });
    return QCoreApplication::exec();
}

int rogue() {
    using namespace xpc;
    xpc_connection_t connection = xpc_connection_create_mach_service("app.glimra.GlimraHelper", nullptr, 0);
    xpc_connection_set_event_handler(connection, [](xpc_object_t event) {
        if (xpc_get_type(event) == xpc_type_t::Dictionary)
            say(QStringLiteral("message %1").arg(xpc_dictionary_get_uint64(event, "id")));
    });
    xpc_connection_resume(connection);
    xpc_object_t hello = xpc_dictionary_create();
    xpc_dictionary_set_uint64(hello, "id", 12);
    xpc_connection_send_message_with_reply(connection, hello, nullptr, [](xpc_object_t reply) {
        say(xpc_get_type(reply) == xpc_type_t::Dictionary ? "connected" : "refused");
        // From a name of its own, so that none of these connections is its own.
        QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "other");
        for (qulonglong id = 1; id <= 20; ++id) {
            const QDBusMessage answer = other.call(listenerCall("Cancel", {id}));
            if (answer.errorName() == QLatin1String(XPC_DBUS_ERROR_CONNECTION_INVALID))
                say("cancel refused");
        }
        say("done");
    });
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // Descriptors in flight count against this process too.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (mode == u"unanswered")
        return unanswered(args.value(2).toInt());
    if (mode == u"pile")
        return pile(args.value(2).toInt(), args.value(3));
    if (mode == u"rogue")
        return rogue();
    std::fprintf(stderr, "usage: %s unanswered N | pile N [NAME] | rogue\n", argv[0]);
    return 2;
}
