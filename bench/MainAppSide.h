#pragma once
// The main application's side of a benchmark that runs the real helper: this program owns
// app.glimra.Glimra, starts the helper with settings of its own, becomes its peer, allows its capture
// requests and, on kXPCMessageScreenshot (8), saves the PNG exactly as the reference main application
// does, with its own code. With it, a realistic screen's content to show meanwhile.

#include "AllowCapture.h"
#include "DistributedNotificationCenter.h"
#include "ReferenceMainApp.h"
#include "SharedHelperCommunication.h"
#include "Spin.h"
#include "Workspace.h"
#include "xpc/Xpc.h"

#include <QCommandLineParser>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <vector>

namespace benchmain {

using namespace xpc;

inline double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline double ms(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

// A desktop as people have it: a photo wallpaper with grain, a document window full of text, a dark
// terminal, and a photo in the document. Sizes follow the height, so 4K looks like a 2x screen.
inline QImage realisticScreen(QSize size) {
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
inline double sameShare(const QImage& a, const QImage& b) {
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
    std::optional<double> capture(int timeoutMs = 20000) {
        xpc_object_t message = xpc_dictionary_create();
        xpc_dictionary_set_uint64(message, kXPCMessageIdentifierKey, kXPCMessageFullscreenSnapshot);
        startTiming();
        xpc_connection_send_message(connection_, message);
        return waitForSaved(timeoutMs);
    }
    // A message of that kind (kXPCMessageCrosshairSnapshot, say) with nothing else in it.
    void send(uint64_t kind) {
        xpc_object_t message = xpc_dictionary_create();
        xpc_dictionary_set_uint64(message, kXPCMessageIdentifierKey, kind);
        xpc_connection_send_message(connection_, message);
    }
    // Times from now until the next screenshot is saved (a capture started some other way).
    void startTiming() {
        saved_.reset();
        timer_.start();
    }
    // The time from startTiming() until the screenshot was saved, in ms; nullopt when none came.
    std::optional<double> waitForSaved(int timeoutMs = 20000) {
        if (!spin([&] { return saved_.has_value(); }, timeoutMs))
            return std::nullopt;
        return saved_;
    }

    // Whether the helper can capture the previous area: true once a rectangle was captured and no
    // capture runs; nullopt when it did not answer.
    std::optional<bool> canSnapPreviousArea() {
        auto answer = std::make_shared<std::optional<bool>>();
        xpc_object_t ask = xpc_dictionary_create();
        xpc_dictionary_set_uint64(ask, kXPCMessageIdentifierKey, kXPCMessageCanSnapPreviousArea);
        xpc_connection_send_message_with_reply(connection_, ask, dispatch::dispatch_get_main_queue(),
                                               [answer](xpc_object_t reply) {
                                                   *answer = xpc_get_type(reply) == xpc_type_t::Dictionary &&
                                                             xpc_dictionary_get_bool(reply, kXPCBooleanKey);
                                               });
        spin([&] { return answer->has_value(); }, 5000);
        return *answer;
    }
    // The messages asking to show the main application (a capture ended without a picture) so far.
    int showRequests() const { return showRequests_; }

    qint64 pngBytes() const { return pngBytes_; }
    // Of the last capture: when message 8 arrived, after message 6 was sent.
    double arrivedMs() const { return arrived_; }
    QString lastPath() const { return lastPath_; }
    const QString& folder() const { return folder_; }

private:
    void handle(const xpc_object_t& event) {
        if (xpc_get_type(event) != xpc_type_t::Dictionary)
            return;
        const uint64_t kind = xpc_dictionary_get_uint64(event, kXPCMessageIdentifierKey);
        if (kind == kXPCMessageRequestScreenSnap) {
            allowCapture(event);
        } else if (kind == kXPCMessageShowMainApp) {
            ++showRequests_;
        } else if (kind == kXPCMessageScreenshot) {
            arrived_ = ms(timer_);
            QString error;
            const QString path = ReferenceMainApp::saveScreenshot(event, folder_, &error);
            if (path.isEmpty()) {
                std::fprintf(stderr, "could not save in %s: %s\n", qPrintable(folder_), qPrintable(error));
                return;
            }
            saved_ = ms(timer_);
            size_t length = 0;
            xpc_dictionary_get_data(event, kXPCPNGDataKey, &length);
            pngBytes_ = qint64(length);
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
    int showRequests_ = 0;
};

inline double loadAverage() {
    QFile f("/proc/loadavg");
    return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').value(0).toDouble() : 0;
}

// The screens in device pixels, left to right, with the scale of those not at 1: 1920x1080+1280x720@2.
inline QString screenLayout() {
    QStringList sizes;
    for (const QScreen* s : QGuiApplication::screens()) {
        const QSize pixels = s->geometry().size() * s->devicePixelRatio();
        sizes << QStringLiteral("%1x%2").arg(pixels.width()).arg(pixels.height()) +
                     (s->devicePixelRatio() != 1 ? QStringLiteral("@%1").arg(s->devicePixelRatio())
                                                 : QString());
    }
    return sizes.join(u'+');
}

// What such a benchmark is told: --runs N (at least 3) and --helper PATH.
struct BenchOptions {
    int runs = 15;
    QString helper;
};

inline BenchOptions parseBenchOptions(const QCoreApplication& app) {
    QCommandLineParser parser;
    const QCommandLineOption runsOption("runs", "Rounds per figure.", "n", "15");
    const QCommandLineOption helperOption("helper", "The helper executable.", "path",
                                          GLIMRA_HELPER_BUNDLE_DIR "/Contents/MacOS/GlimraHelper");
    parser.addOptions({runsOption, helperOption});
    parser.addHelpOption();
    parser.process(app);
    return {std::max(3, parser.value(runsOption).toInt()), parser.value(helperOption)};
}

// realisticScreen() over the whole primary screen, shown from now until it goes.
class ScreenContent {
public:
    ScreenContent()
        : screen_(QGuiApplication::primaryScreen()),
          image_(realisticScreen(screen_->geometry().size() * screen_->devicePixelRatio())), window_(image_) {
        window_.setGeometry(screen_->geometry());
        window_.show();
        spin([] { return false; }, 800);
    }
    QScreen* screen() const { return screen_; }
    const QImage& image() const { return image_; }
    // In pixels.
    QSize size() const { return image_.size(); }

private:
    QScreen* screen_;
    QImage image_;
    ContentWindow window_;
};

// The helper under test, started with settings of its own in work (and the variables of extra), this
// program its peer. One helper after another may run in one program.
class HelperUnderTest {
public:
    HelperUnderTest(const QTemporaryDir& work, const QString& executable,
                    const QProcessEnvironment& extra = QProcessEnvironment())
        : peer(work.filePath("shots")) {
        QDir().mkpath(work.filePath("shots"));
        const QString mainApp = QStringLiteral("app.glimra.Glimra");
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.interface()->serviceOwner(mainApp).value() != bus.baseService() &&
            !glimra::Workspace::sharedWorkspace().registerApplication(mainApp)) {
            std::fprintf(stderr, "another main application runs on this bus\n");
            return;
        }
        // Observers stay with the notification center: the flag outlives this helper.
        auto helperReady = std::make_shared<bool>(false);
        glimra::DistributedNotificationCenter::defaultCenter().addObserver(
            QString::fromLatin1(kXPCHelperAppIsReadyNotification),
            [helperReady](const QString&, const QString&) { *helperReady = true; });
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& name : extra.keys())
            env.insert(name, extra.value(name));
        for (const char* sub : {"config", "data", "cache"})
            QDir().mkpath(work.filePath(sub));
        env.insert("HOME", work.path());
        env.insert("XDG_CONFIG_HOME", work.filePath("config"));
        env.insert("XDG_DATA_HOME", work.filePath("data"));
        env.insert("XDG_CACHE_HOME", work.filePath("cache"));
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.setStandardOutputFile(work.filePath("helper.log"));
        process_.start(executable, {});
        ready_ = spin([&] { return *helperReady; }, 15000) && peer.connect();
        if (!ready_)
            std::fprintf(stderr, "the helper did not come up (%s)\n", qPrintable(executable));
    }
    ~HelperUnderTest() {
        process_.terminate();
        // The event loop runs meanwhile: the helper says goodbye to this program, its peer, as it quits.
        if (!spin([this] { return process_.state() == QProcess::NotRunning; }, 5000))
            std::fprintf(stderr, "the helper did not quit within 5 s of SIGTERM\n");
        process_.waitForFinished(1000);
    }
    bool ready() const { return ready_; }
    qint64 pid() const { return process_.processId(); }
    // Removes the screenshots saved so far.
    void clearShots() {
        const QString folder = peer.folder();
        for (const QString& f : QDir(folder).entryList({"*.png"}, QDir::Files))
            QFile::remove(folder + u'/' + f);
    }

    Peer peer;

private:
    QProcess process_;
    bool ready_ = false;
};

} // namespace benchmain
