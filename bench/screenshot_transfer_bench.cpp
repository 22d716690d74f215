// How long a large screenshot message takes from the helper's side of the link to a file written
// by the reference main application, checksum checked. This program stands in for the helper: it
// offers the helper's XPC service on the session bus, announces readiness, waits for the reference
// main application (started by bench/screenshot_transfer_bench.sh) to connect, then sends message 8
// with N MB of PNG data and waits for the main application's "Saved screenshot" line on its stdin.
// Baseline in the same run: the same bytes written to a file directly.

#include "xpc/Xpc.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace xpc;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int megabytes = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;

    QByteArray png(qsizetype(megabytes) * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < png.size(); ++i)
        png[i] = char((i * 2654435761u) >> 11);
    const QByteArray sha = QCryptographicHash::hash(png, QCryptographicHash::Sha256).toHex();

    xpc_connection_t listener = xpc_connection_create_mach_service(
        "app.glimra.GlimraHelper", dispatch::dispatch_get_main_queue(), XPC_CONNECTION_MACH_SERVICE_LISTENER);
    if (!listener) {
        std::fprintf(stderr, "cannot offer app.glimra.GlimraHelper (is a helper running?)\n");
        return 1;
    }
    xpc_connection_t peer;
    xpc_connection_set_event_handler(listener, [&](xpc_object_t event) {
        if (xpc_get_type(event) != xpc_type_t::Connection)
            return;
        peer = event;
        xpc_connection_set_event_handler(peer, [](xpc_object_t) {});
        xpc_connection_resume(peer);
    });
    xpc_connection_resume(listener);
    QDBusMessage ready = QDBusMessage::createSignal("/app/glimra/DistributedNotificationCenter",
                                                    "app.glimra.DistributedNotificationCenter", "Posted");
    ready << QStringLiteral("GlimraHelperAppIsReady") << QString();
    QDBusConnection::sessionBus().send(ready);

    // The reference main application's log arrives on stdin.
    QByteArray log;
    QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n > 0)
            log.append(buffer, n);
    });
    auto waitFor = [&](const std::function<bool()>& done, int timeoutMs) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        return done();
    };
    if (!waitFor([&] { return peer != nullptr; }, 10000)) {
        std::fprintf(stderr, "the reference main application did not connect\n");
        return 1;
    }

    std::vector<double> linkMs, fileMs;
    bool intact = true;
    QTemporaryDir dir;
    for (int run = 0; run < runs; ++run) {
        const qsizetype seen = log.count("Saved screenshot");
        QElapsedTimer timer;
        timer.start();
        xpc_object_t message = xpc_dictionary_create();
        xpc_dictionary_set_uint64(message, "id", 8);
        xpc_dictionary_set_data(message, "PNGData", png);
        xpc_dictionary_set_uint64(message, "width", 3840);
        xpc_dictionary_set_uint64(message, "height", 2160);
        xpc_dictionary_set_string(message, "title", "transfer " + std::to_string(run));
        xpc_connection_send_message(peer, message);
        if (!waitFor([&] { return log.count("Saved screenshot") > seen; }, 20000)) {
            std::fprintf(stderr, "no screenshot saved\n");
            return 1;
        }
        linkMs.push_back(timer.nsecsElapsed() / 1e6);
        // The checksum is taken after the clock stopped, from the file the main application wrote.
        const QByteArray line = log.mid(log.lastIndexOf("Saved screenshot "));
        const QString savedPath = QString::fromUtf8(line.mid(17, line.indexOf(" (width") - 17));
        QFile saved(savedPath);
        intact = intact && saved.open(QIODevice::ReadOnly) &&
                 QCryptographicHash::hash(saved.readAll(), QCryptographicHash::Sha256).toHex() == sha;

        timer.restart();
        QFile file(dir.filePath(QStringLiteral("direct%1.png").arg(run)));
        file.open(QIODevice::WriteOnly);
        file.write(png);
        file.close();
        fileMs.push_back(timer.nsecsElapsed() / 1e6);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("%d MB screenshot message, median of %d runs\n", megabytes, runs);
    std::printf("  %-44s %8.1f ms  (%.0f MB/s)\n",
                "helper side -> reference main app, on disk:", median(linkMs),
                megabytes / (median(linkMs) / 1000.0));
    std::printf("  %-44s %8.1f ms\n", "baseline, the same bytes written directly:", median(fileMs));
    std::printf("  checksum (sha256) of every saved file: %s\n", intact ? "intact" : "MISMATCH");
    return intact ? 0 : 1;
}
