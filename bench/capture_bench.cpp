// End-to-end full-screen capture: the time from sending kXPCMessageFullscreenSnapshot (6) to the
// helper until its PNG is on disk. This program is the main application: it owns app.glimra.Glimra,
// starts the helper, is its peer, allows its capture requests and, on kXPCMessageScreenshot (8),
// saves the PNG exactly as the reference main application does (<title>.png through QSaveFile).
// Measured in the same rounds, on the same screen content:
//   - the grab and PNG encoding alone in this (warm) process: WindowServer + PngEncoder, as the
//     helper does them;
//   - scrot and maim saving the same screen to a file (a process each time, as they are used).
// Prints medians, and a ROW line for bench/capture_bench.sh. Run inside a headless session:
//   scripts/with-session --geometry 3840x2160x24 build/bench/capture_bench [--runs N] [--helper PATH]

#include "DistributedNotificationCenter.h"
#include "ReferenceMainApp.h"
#include "SharedHelperCommunication.h"
#include "Spin.h"
#include "Workspace.h"
#include "png/PngEncoder.h"
#include "x11/WindowServer.h"
#include "xpc/Xpc.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QSaveFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <vector>

using namespace xpc;

namespace {

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double ms(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}


// A desktop as people have it: a photo wallpaper with grain, a document window full of text, a dark
// terminal, and a photo in the document. Sizes follow the height, so 4K looks like a 2x screen.
QImage realisticScreen(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    std::mt19937 rng(4242);
    std::uniform_int_distribution<int> grain(-7, 7);
    const auto photo = [&](QRect area, double phase) {
        area &= image.rect();
        for (int y = area.top(); y <= area.bottom(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            const double fy = double(y - area.top()) / area.height();
            for (int x = area.left(); x <= area.right(); ++x) {
                const double fx = double(x - area.left()) / area.width();
                const double hills = std::sin(fx * 5.1 + phase) * std::cos(fy * 3.7 - phase) +
                                     0.5 * std::sin((fx + fy) * 11.0 + 2 * phase);
                const double sky = 1.0 - fy;
                line[x] = qRgb(std::clamp(int(40 + 120 * sky + 50 * hills) + grain(rng), 0, 255),
                               std::clamp(int(70 + 90 * sky + 60 * hills * fx) + grain(rng), 0, 255),
                               std::clamp(int(110 + 120 * sky - 40 * hills) + grain(rng), 0, 255));
            }
        }
    };
    photo(image.rect(), 0.7);
    const double k = size.height() / 1080.0;
    const auto s = [k](double v) { return int(std::lround(v * k)); };
    static const char* const lexicon[] = {"capture", "screen", "pixel",  "window", "image", "the", "of",
                                          "and",     "a",      "region", "helper", "frame", "row", "quick",
                                          "brown",   "fox",    "jumps",  "over",   "lazy",  "dog", "menu"};
    std::uniform_int_distribution<int> pick(0, int(std::size(lexicon)) - 1);
    const auto words = [&](int n) {
        QStringList out;
        for (int i = 0; i < n; ++i)
            out << QString::fromLatin1(lexicon[pick(rng)]);
        return out.join(u' ');
    };

    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRect document(s(60), s(50), int(size.width() * 0.55), int(size.height() * 0.8));
    p.fillRect(document, QColor(250, 250, 250));
    p.fillRect(QRect(document.topLeft(), QSize(document.width(), s(38))), QColor(225, 225, 228));
    QFont body("DejaVu Sans");
    body.setPixelSize(s(15));
    p.setFont(body);
    p.setPen(QColor(40, 40, 40));
    for (int y = document.top() + s(70); y < document.bottom() - s(20); y += s(24)) {
        if (y > document.top() + s(300) && y < document.top() + s(560))
            continue; // the photo's place
        p.drawText(document.left() + s(30), y, words(14));
    }
    photo(QRect(document.left() + s(30), document.top() + s(300), document.width() / 2, s(240)), 2.1);
    const QRect terminal(int(size.width() * 0.5), s(160), int(size.width() * 0.46), int(size.height() * 0.7));
    p.fillRect(terminal, QColor(28, 28, 30));
    QFont mono("DejaVu Sans Mono");
    mono.setPixelSize(s(14));
    p.setFont(mono);
    int line = 0;
    for (int y = terminal.top() + s(30); y < terminal.bottom() - s(10); y += s(19), ++line) {
        p.setPen(line % 5 == 0   ? QColor(120, 200, 120)
                 : line % 3 == 0 ? QColor(220, 180, 90)
                                 : QColor(200, 200, 200));
        p.drawText(terminal.left() + s(16), y, QStringLiteral("%1  ").arg(line, 4) + words(9));
    }
    return image;
}

class ContentWindow : public QWidget {
public:
    explicit ContentWindow(QImage image)
        : QWidget(nullptr,
                  Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint),
          image_(std::move(image)) {}

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, image_); }

private:
    QImage image_;
};

// The share of pixels of a that equal those of b.
double sameShare(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return 0;
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    qint64 same = 0;
    for (int r = 0; r < x.height(); ++r) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(r));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(r));
        for (int c = 0; c < x.width(); ++c)
            same += (p[c] & 0xffffff) == (q[c] & 0xffffff);
    }
    return double(same) / (double(x.width()) * x.height());
}

// The main application's side of the link.
class Peer {
public:
    explicit Peer(QString folder) : folder_(std::move(folder)) {}
    ~Peer() {
        if (connection_)
            xpc_connection_cancel(connection_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool connect() {
        connection_ = xpc_connection_create_mach_service("app.glimra.GlimraHelper",
                                                         dispatch::dispatch_get_main_queue(), 0);
        if (!connection_)
            return false;
        xpc_connection_set_event_handler(connection_, [this](xpc_object_t event) { handle(event); });
        xpc_connection_resume(connection_);
        // The version round trip makes this connection the helper's peer before any capture.
        auto answered = std::make_shared<bool>(false);
        xpc_object_t version = xpc_dictionary_create();
        xpc_dictionary_set_uint64(version, kXPCMessageIdentifierKey, kXPCMessageGetHelperVersion);
        xpc_connection_send_message_with_reply(connection_, version, dispatch::dispatch_get_main_queue(),
                                               [answered](xpc_object_t) { *answered = true; });
        return spin([&] { return *answered; }, 10000);
    }

    // One capture: message 6 out, until the PNG is saved; the time in ms, or nullopt.
    std::optional<double> capture() {
        saved_.reset();
        xpc_object_t message = xpc_dictionary_create();
        xpc_dictionary_set_uint64(message, kXPCMessageIdentifierKey, kXPCMessageFullscreenSnapshot);
        timer_.start();
        xpc_connection_send_message(connection_, message);
        if (!spin([&] { return saved_.has_value(); }, 20000))
            return std::nullopt;
        return saved_;
    }

    qint64 pngBytes() const { return pngBytes_; }
    // Of the last capture: when message 8 arrived, after message 6 was sent.
    double arrivedMs() const { return arrived_; }
    QString lastPath() const { return lastPath_; }

private:
    void handle(const xpc_object_t& event) {
        if (xpc_get_type(event) != xpc_type_t::Dictionary)
            return;
        const uint64_t kind = xpc_dictionary_get_uint64(event, kXPCMessageIdentifierKey);
        if (kind == kXPCMessageRequestScreenSnap) {
            xpc_object_t reply = xpc_dictionary_create_reply(event);
            xpc_dictionary_set_bool(reply, kXPCBooleanKey, true);
            xpc_connection_send_message(xpc_dictionary_get_remote_connection(event), reply);
        } else if (kind == kXPCMessageScreenshot) {
            arrived_ = ms(timer_);
            const QByteArray png = xpc_dictionary_get_data(event, kXPCPNGDataKey);
            const QString title = QString::fromStdString(xpc_dictionary_get_string(event, kXPCTitleKey));
            const QString path = ReferenceMainApp::uniqueFilePath(QDir(folder_), title);
            QSaveFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size() || !file.commit()) {
                std::fprintf(stderr, "could not save %s\n", qPrintable(path));
                return;
            }
            saved_ = ms(timer_);
            pngBytes_ = png.size();
            lastPath_ = path;
        }
    }

    QString folder_;
    xpc_connection_t connection_;
    QElapsedTimer timer_;
    std::optional<double> saved_;
    double arrived_ = 0;
    qint64 pngBytes_ = 0;
    QString lastPath_;
};

// One run of an external screenshot tool; the time in ms, or nullopt when it failed.
std::optional<double> runTool(const QString& program, const QStringList& arguments, const QString& output) {
    QFile::remove(output);
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer t;
    t.start();
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    const double elapsed = ms(t);
    return QFile::exists(output) ? std::optional<double>(elapsed) : std::nullopt;
}

double loadAverage() {
    QFile f("/proc/loadavg");
    return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').value(0).toDouble() : 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption runsOption("runs", "Rounds per figure.", "n", "15");
    const QCommandLineOption helperOption("helper", "The helper executable.", "path",
                                          GLIMRA_HELPER_BUNDLE_DIR "/Contents/MacOS/GlimraHelper");
    parser.addOptions({runsOption, helperOption});
    parser.addHelpOption();
    parser.process(app);
    const int runs = std::max(3, parser.value(runsOption).toInt());

    QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen->geometry().size() * screen->devicePixelRatio();
    const QString label = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
    QTemporaryDir work;
    const QString shots = work.filePath("shots");
    QDir().mkpath(shots);

    // The screen content, shown until the end.
    const QImage content = realisticScreen(size);
    ContentWindow window(content);
    window.setGeometry(screen->geometry());
    window.show();
    spin([&] { return false; }, 800);

    auto server = glimra::x11::WindowServer::connect();
    if (!server) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    server->warmUp();
    QThread::msleep(300);
    glimra::png::PngEncoder encoder;
    {
        const QImage check = server->createImageOfScreen(screen);
        const double share = sameShare(check, content);
        if (share < 0.99)
            std::fprintf(stderr, "warning: only %.1f%% of the screen shows the test content\n", share * 100);
    }

    // The helper, with settings of its own, and this program in the main application's place.
    if (!glimra::Workspace::sharedWorkspace().registerApplication(QStringLiteral("app.glimra.Glimra"))) {
        std::fprintf(stderr, "another main application runs on this bus\n");
        return 1;
    }
    bool helperReady = false;
    glimra::DistributedNotificationCenter::defaultCenter().addObserver(
        QString::fromLatin1(kXPCHelperAppIsReadyNotification),
        [&helperReady](const QString&, const QString&) { helperReady = true; });
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* sub : {"config", "data", "cache"})
        QDir().mkpath(work.filePath(sub));
    env.insert("HOME", work.path());
    env.insert("XDG_CONFIG_HOME", work.filePath("config"));
    env.insert("XDG_DATA_HOME", work.filePath("data"));
    env.insert("XDG_CACHE_HOME", work.filePath("cache"));
    QProcess helper;
    helper.setProcessEnvironment(env);
    helper.setProcessChannelMode(QProcess::MergedChannels);
    helper.setStandardOutputFile(work.filePath("helper.log"));
    helper.start(parser.value(helperOption), {});
    Peer peer(shots);
    if (!spin([&] { return helperReady; }, 15000) || !peer.connect()) {
        std::fprintf(stderr, "the helper did not come up (%s)\n", qPrintable(parser.value(helperOption)));
        return 1;
    }

    const std::optional<double> first = peer.capture();
    if (!first) {
        std::fprintf(stderr, "the helper delivered no screenshot\n");
        return 1;
    }
    const double firstShare = sameShare(QImage(peer.lastPath()), content);

    // Interleaved rounds, so that the load of a shared machine falls on every figure alike.
    std::vector<double> helperMs, arrivalMs, grabMs, encodeMs, grabEncodeMs, scrotMs, maimMs;
    qint64 ownPngBytes = 0;
    const QString scrotFile = work.filePath("scrot.png"), maimFile = work.filePath("maim.png");
    for (int i = 0; i < runs; ++i) {
        QThread::msleep(150);
        if (const auto t = peer.capture()) {
            helperMs.push_back(*t);
            arrivalMs.push_back(peer.arrivedMs());
        }
        for (const QString& f : QDir(shots).entryList({"*.png"}, QDir::Files))
            QFile::remove(shots + u'/' + f);

        QThread::msleep(150);
        QElapsedTimer t;
        t.start();
        const QImage image = server->createImageOfScreen(screen);
        const double grabbed = ms(t);
        QByteArray png;
        encoder.encode(image, png);
        const double total = ms(t);
        grabMs.push_back(grabbed);
        encodeMs.push_back(total - grabbed);
        grabEncodeMs.push_back(total);
        ownPngBytes = png.size();

        QThread::msleep(150);
        if (const auto s = runTool("scrot", {"-o", "-z", scrotFile}, scrotFile))
            scrotMs.push_back(*s);
        QThread::msleep(150);
        if (const auto m = runTool("maim", {maimFile}, maimFile))
            maimMs.push_back(*m);
    }

    helper.terminate();
    helper.waitForFinished(5000);

    const double h = median(helperMs), ge = median(grabEncodeMs), sc = median(scrotMs), ma = median(maimMs);
    const double fasterTool = scrotMs.empty() ? ma : maimMs.empty() ? sc : std::min(sc, ma);
    std::printf("%s, %d rounds, load average %.1f at the end\n", qPrintable(label), runs, loadAverage());
    std::printf("  helper: message 6 -> PNG on disk     %7.1f ms median (min %.1f), PNG %.1f MB; first "
                "capture %.1f ms%s\n",
                h, helperMs.empty() ? 0 : *std::min_element(helperMs.begin(), helperMs.end()),
                peer.pngBytes() / 1e6, *first, firstShare > 0.99 ? "" : "  (WRONG PIXELS)");
    std::printf("    message 8 arrived after            %7.1f ms median; saving it took the rest\n",
                median(arrivalMs));
    std::printf(
        "  grab + encode, warm process          %7.1f ms median (grab %.1f, encode %.1f), PNG %.1f MB\n", ge,
        median(grabMs), median(encodeMs), ownPngBytes / 1e6);
    std::printf("  scrot -o -z FILE                     %7.1f ms median, PNG %.1f MB\n", sc,
                QFile(scrotFile).size() / 1e6);
    std::printf("  maim FILE                            %7.1f ms median, PNG %.1f MB\n", ma,
                QFile(maimFile).size() / 1e6);
    std::printf("  helper / (grab + encode) = %.2fx; faster of scrot and maim / helper = %.1fx\n", h / ge,
                fasterTool / h);
    std::printf("ROW %s %.1f %.1f %.1f %.1f %.1f %.1f %.1f\n", qPrintable(label), h, *first, ge, sc, ma,
                h / ge, fasterTool / h);
    return helperMs.size() == size_t(runs) ? 0 : 1;
}
