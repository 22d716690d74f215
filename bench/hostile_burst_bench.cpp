// What a hostile client of the session bus costs the main application and the helper. This program
// is the main application (it owns app.glimra.Glimra, starts the helper, allows its captures) and,
// on a bus connection of its own, the hostile client. It measures, before a burst, after a burst at
// an idle helper (right away and after a quiet spell with no capture), and around a second burst:
//   - capture to delivery: message 6 sent until the screenshot (message 8) arrives, median;
//   - the helper's proportional set size and anonymous memory (/proc/PID/smaps_rollup).
// The burst: 300 requests nobody answers on one connection (256 KiB inline and 16 sealed memfds
// each), 20,000 connections, and 20 one-shot messages each naming a sealed sparse 200 MiB memfd
// and an unsealed sparse 1 GiB one.
//   scripts/with-session build/bench/hostile_burst_bench [--runs N] [--quiet SECONDS] [--helper PATH]

#include "AllowCapture.h"
#include "ProcessMemory.h"
#include "SharedHelperCommunication.h"
#include "Spin.h"
#include "xpc/Xpc.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace xpc;

namespace {

QDBusUnixFileDescriptor memfd(off_t size, bool sealed) {
    const int fd = memfd_create("burst", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (ftruncate(fd, size) != 0)
        std::perror("ftruncate");
    if (sealed)
        fcntl(fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW);
    QDBusUnixFileDescriptor result(fd);
    close(fd);
    return result;
}

// The main application's connection: allows captures, times their delivery.
class MainApp {
public:
    bool connect() {
        connection_ = xpc_connection_create_mach_service("app.glimra.GlimraHelper",
                                                         dispatch::dispatch_get_main_queue(), 0);
        xpc_connection_set_event_handler(connection_, [this](xpc_object_t event) {
            const uint64_t kind = xpc_dictionary_get_uint64(event, kXPCMessageIdentifierKey);
            if (kind == kXPCMessageRequestScreenSnap) {
                allowCapture(event);
            } else if (kind == kXPCMessageScreenshot) {
                delivered_ = double(timer_.nsecsElapsed()) / 1e6;
            }
        });
        xpc_connection_resume(connection_);
        bool answered = false;
        xpc_object_t version = xpc_dictionary_create();
        xpc_dictionary_set_uint64(version, kXPCMessageIdentifierKey, kXPCMessageGetHelperVersion);
        xpc_connection_send_message_with_reply(
            connection_, version, dispatch::dispatch_get_main_queue(),
            [&answered](xpc_object_t r) { answered = xpc_get_type(r) == xpc_type_t::Dictionary; });
        return spin([&] { return answered; }, 10000) && answered;
    }
    // Median capture-to-delivery time of runs captures, ms; -1 when one did not arrive.
    double captures(int runs) {
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) {
            delivered_ = -1;
            xpc_object_t message = xpc_dictionary_create();
            xpc_dictionary_set_uint64(message, kXPCMessageIdentifierKey, kXPCMessageFullscreenSnapshot);
            timer_.start();
            xpc_connection_send_message(connection_, message);
            if (!spin([&] { return delivered_ >= 0; }, 20000))
                return -1;
            times.push_back(delivered_);
        }
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    }

private:
    xpc_connection_t connection_;
    QElapsedTimer timer_;
    double delivered_ = -1;
};

// The hostile client's burst, on a bus connection of its own. Returns once every call was answered
// (or, for the requests nobody answers, once all but the 64 the helper keeps open have failed).
void burst(QDBusConnection& bus) {
    std::atomic<int> outstanding = 0;
    int noReply = 0;
    const auto call = [&](const QString& member, const QVariantList& args, bool counts) {
        QDBusMessage m = QDBusMessage::createMethodCall("app.glimra.GlimraHelper", "/xpc",
                                                        "app.glimra.xpc.Listener", member);
        m.setArguments(args);
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(m, INT_MAX));
        if (counts)
            ++outstanding;
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [&, watcher, counts] {
            watcher->deleteLater();
            if (counts)
                --outstanding;
            else if (watcher->reply().errorName() == QLatin1String(XPC_DBUS_ERROR_NO_REPLY))
                ++noReply;
        });
    };
    QDBusMessage connect = QDBusMessage::createMethodCall("app.glimra.GlimraHelper", "/xpc",
                                                          "app.glimra.xpc.Listener", "Connect");
    const qulonglong id = bus.call(connect).arguments().value(0).toULongLong();
    const QDBusUnixFileDescriptor data = memfd(1 << 20, true);
    for (int i = 0; i < 300; ++i) {
        QVariantMap message{{"id", QVariant::fromValue<qulonglong>(0)},
                            {"inline", QByteArray(256 << 10, 'x')}};
        for (int f = 0; f < 16; ++f)
            message.insert(QStringLiteral("fd%1").arg(f), QVariant::fromValue(data));
        call("SendWithReply", {id, message}, false);
    }
    for (int i = 0; i < 20000; ++i)
        call("Connect", {}, true);
    const QDBusUnixFileDescriptor sealed = memfd(200 << 20, true), unsealed = memfd(off_t(1) << 30, false);
    for (int i = 0; i < 20; ++i)
        call("Send",
             {qulonglong(0), QVariantMap{{"id", QVariant::fromValue<qulonglong>(0)},
                                         {"sealed", QVariant::fromValue(sealed)},
                                         {"unsealed", QVariant::fromValue(unsealed)}}},
             true);
    if (!spin([&] { return outstanding == 0 && noReply == 300 - 64; }, 120000))
        std::fprintf(stderr, "the burst was not answered in time (%d outstanding, %d failed)\n",
                     int(outstanding), noReply);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption runsOption("runs", "Captures per phase.", "n", "10");
    const QCommandLineOption helperOption("helper", "The helper executable.", "path",
                                          GLIMRA_HELPER_BUNDLE_DIR "/Contents/MacOS/GlimraHelper");
    const QCommandLineOption quietOption("quiet",
                                         "Seconds of the quiet spells (the helper gives memory back "
                                         "after a quiet minute).",
                                         "s", "70");
    parser.addOptions({runsOption, helperOption, quietOption});
    parser.process(app);
    const int runs = std::max(1, parser.value(runsOption).toInt());
    const int quietSeconds = std::max(0, parser.value(quietOption).toInt());

    QDBusConnection session = QDBusConnection::sessionBus();
    if (session.interface()->registerService("app.glimra.Glimra") !=
        QDBusConnectionInterface::ServiceRegistered) {
        std::fprintf(stderr, "another main application runs\n");
        return 1;
    }
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    QProcess helper;
    helper.setProcessEnvironment(env);
    helper.setProcessChannelMode(QProcess::MergedChannels);
    helper.setStandardOutputFile(home.filePath("helper.log"));
    helper.start(parser.value(helperOption), {});
    MainApp main;
    if (!spin([&] { return session.interface()->isServiceRegistered("app.glimra.GlimraHelper").value(); },
              15000) ||
        !main.connect() || main.captures(2) < 0) {
        std::fprintf(stderr, "the helper did not come up\n");
        return 1;
    }
    const qint64 pid = helper.processId();
    std::printf("%-44s %20s %14s %14s\n", "", "capture -> delivery", "helper PSS", "anonymous");
    const auto print = [&](const char* phase, const char* ms) {
        const glimra::test::ProcessMemory memory = glimra::test::processMemory(pid);
        std::printf("%-44s %20s %10.1f MiB %10.1f MiB\n", phase, ms, memory.pssMiB, memory.anonymousMiB);
        std::fflush(stdout);
    };
    const auto row = [&](const char* phase) {
        const double ms = main.captures(runs);
        spin([] { return false; }, 500); // what the captures freed is given back
        print(phase, qPrintable(QStringLiteral("%1 ms").arg(ms, 0, 'f', 1)));
        return ms >= 0;
    };
    // Without captures: the helper's memory once it has been left alone for the quiet spell.
    const auto quiet = [&](const char* phase) {
        spin([] { return false; }, quietSeconds * 1000);
        print(phase, "-");
    };
    const auto hostileBurst = [&](const char* round) {
        QElapsedTimer t;
        t.start();
        QDBusConnection hostile = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "hostile");
        burst(hostile);
        std::printf("%s burst, answered in %.1f s:\n", round, double(t.elapsed()) / 1000);
    };
    const auto leave = [] {
        QDBusConnection::disconnectFromBus("hostile");
        spin([] { return false; }, 1000);
    };
    bool ok = row("before the burst");
    quiet("  and a quiet spell later");
    // A burst at an idle helper, with no capture after it.
    hostileBurst("first");
    leave();
    print("  the client left, no capture since", "-");
    quiet("  and a quiet spell later");
    ok = row("  captures after it") && ok;
    // A second burst shows whether what the first cost is reused or piles up.
    hostileBurst("second");
    ok = row("  hostile client still on the bus") && ok;
    leave();
    ok = row("  after it left the bus") && ok;
    quiet("  and a quiet spell after the last capture");
    helper.terminate();
    helper.waitForFinished(5000);
    return ok ? 0 : 1;
}
