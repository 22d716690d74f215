#include "wayland/KWinScreenShotCopier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace glimra::wayland {

namespace {

const QString kService = QStringLiteral("org.kde.KWin");
const QString kPath = QStringLiteral("/org/kde/KWin/ScreenShot2");
const QString kInterface = QStringLiteral("org.kde.KWin.ScreenShot2");
// A pipe this large takes a 1920x1080 output in eight writes rather than 128 (unprivileged programs
// may go up to /proc/sys/fs/pipe-max-size, 1 MiB by default).
constexpr int kPipeSize = 1 << 20;
// Formats KWin writes (QImage's own numbering, which its results use).
constexpr QImage::Format kFormats[] = {
    QImage::Format_RGB32,    QImage::Format_ARGB32,   QImage::Format_ARGB32_Premultiplied,
    QImage::Format_RGBX8888, QImage::Format_RGBA8888, QImage::Format_RGBA8888_Premultiplied,
    QImage::Format_RGB888,   QImage::Format_BGR888};

QString describe(const ScreenShotFailure& f) {
    return f.error.isEmpty() ? f.message : QStringLiteral("%1 (%2)").arg(f.message, f.error);
}

} // namespace

std::variant<QImage, QString> screenShotImage(const QVariantMap& results, const QByteArray& pixels) {
    const QString type = results.value(QStringLiteral("type"), QStringLiteral("raw")).toString();
    const qint64 width = results.value(QStringLiteral("width")).toLongLong(),
                 height = results.value(QStringLiteral("height")).toLongLong(),
                 stride = results.value(QStringLiteral("stride")).toLongLong();
    const uint formatNumber = results.value(QStringLiteral("format")).toUInt();
    const auto format = std::find(std::begin(kFormats), std::end(kFormats), QImage::Format(formatNumber));
    if (type != QLatin1String("raw") || format == std::end(kFormats))
        return QStringLiteral("KWin sent pixels of type \"%1\", format %2, which this program does not read")
            .arg(type)
            .arg(formatNumber);
    const qint64 rowBytes = width * (QImage::toPixelFormat(*format).bitsPerPixel() / 8);
    if (width <= 0 || height <= 0 || width > 65536 || height > 65536 || stride < rowBytes ||
        stride > rowBytes + 4096)
        return QStringLiteral("KWin described an image of %1 x %2 pixels, %3 bytes a row, which cannot be")
            .arg(width)
            .arg(height)
            .arg(stride);
    if (pixels.size() < stride * height)
        return QStringLiteral("KWin wrote %1 bytes of an image of %2 x %3 pixels that needs %4")
            .arg(pixels.size())
            .arg(width)
            .arg(height)
            .arg(stride * height);
    // Copied out of the bytes, which go with the call.
    const QImage view(reinterpret_cast<const uchar*>(pixels.constData()), int(width), int(height),
                      qsizetype(stride), *format);
    return *format == QImage::Format_RGB32 ? view.copy() : view.convertToFormat(QImage::Format_RGB32);
}

ScreenShotCall::ScreenShotCall(const QString& service, const QString& method, QVariantList arguments,
                               std::chrono::milliseconds timeout, Finish finish)
    : service_(service), method_(method), arguments_(std::move(arguments)), timeout_(timeout),
      finish_(std::move(finish)) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] {
        end(ScreenShotFailure{
            QString(),
            QStringLiteral("KWin did not answer %1 within %2 ms").arg(method_).arg(timeout_.count())});
    });
}

ScreenShotCall::~ScreenShotCall() {
    notifier_.reset(); // before its descriptor closes
    if (readEnd_ >= 0)
        close(readEnd_);
}

void ScreenShotCall::start() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        const QString why = QString::fromLocal8Bit(strerror(errno));
        return QTimer::singleShot(0, this, [this, why] {
            end(ScreenShotFailure{QString(), QStringLiteral("no pipe for KWin's pixels: %1").arg(why)});
        });
    }
    readEnd_ = ends[0];
    fcntl(readEnd_, F_SETFL, fcntl(readEnd_, F_GETFL) | O_NONBLOCK);
    fcntl(ends[1], F_SETPIPE_SZ, kPipeSize); // a smaller pipe only costs wakeups
    QDBusMessage call = QDBusMessage::createMethodCall(service_, kPath, kInterface, method_);
    call.setArguments(arguments_);
    call << QVariant::fromValue(QDBusUnixFileDescriptor(ends[1])); // a copy goes with the message
    close(ends[1]); // only KWin may hold the write end, so that its end is the pipe's end
    notifier_ = std::make_unique<QSocketNotifier>(readEnd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &ScreenShotCall::readable);

    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(call, int(timeout_.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<QVariantMap> reply = *w;
        // The sent message holds a copy of the write end for as long as the call lives.
        w->deleteLater();
        if (reply.isError())
            return end(ScreenShotFailure{reply.error().name(), reply.error().message()});
        results_ = reply.value();
        tryFinish();
    });
    timer_.start(timeout_);
}

void ScreenShotCall::readable() {
    for (;;) {
        if (pixels_.capacity() - pixels_.size() < kPipeSize)
            pixels_.reserve(pixels_.size() + 4 * kPipeSize);
        const qsizetype before = pixels_.size();
        pixels_.resize(pixels_.capacity());
        const ssize_t n = read(readEnd_, pixels_.data() + before, size_t(pixels_.size() - before));
        pixels_.resize(before + std::max<ssize_t>(n, 0));
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        // The end, or a pipe that broke: what was read is all there is.
        eof_ = true;
        notifier_->setEnabled(false);
        break;
    }
    tryFinish();
}

void ScreenShotCall::tryFinish() {
    if (!results_ || finished_)
        return;
    const qint64 expected = results_->value(QStringLiteral("stride")).toLongLong() *
                            results_->value(QStringLiteral("height")).toLongLong();
    if (!eof_ && pixels_.size() < expected)
        return;
    std::variant<QImage, QString> image = screenShotImage(*results_, pixels_);
    if (auto* why = std::get_if<QString>(&image))
        return end(ScreenShotFailure{QString(), *why});
    end(std::move(std::get<QImage>(image)));
}

void ScreenShotCall::end(std::variant<QImage, ScreenShotFailure> result) {
    if (finished_)
        return;
    finished_ = true;
    timer_.stop();
    if (notifier_)
        notifier_->setEnabled(false);
    Finish finish = std::move(finish_);
    deleteLater();
    finish(std::move(result));
}

KWinScreenShotCopier::KWinScreenShotCopier(std::shared_ptr<WaylandConnection> connection,
                                           const CopierOptions& options)
    : connection_(std::move(connection)), options_(options) {}

QString KWinScreenShotCopier::road() const {
    return fallback_ ? fallback_->road() : QStringLiteral("kwin-screenshot2");
}

void KWinScreenShotCopier::fallBack(const ScreenShotFailure& why) {
    if (fallback_)
        return;
    logLine(why.error == QLatin1String("org.kde.KWin.ScreenShot2.Error.NoAuthorized")
                ? QStringLiteral("KWin refuses screenshots to this program (%1): its desktop entry, "
                                 "app.glimra.GlimraHelper.desktop with X-KDE-DBUS-Restricted-Interfaces="
                                 "org.kde.KWin.ScreenShot2, is not installed or does not name this "
                                 "executable; screenshots go through the desktop portal from now on")
                      .arg(describe(why))
                : QStringLiteral("KWin's ScreenShot2 failed: %1; screenshots go through the desktop portal "
                                 "from now on")
                      .arg(describe(why)));
    fallback_ = makePortalCopier(connection_, options_);
    fallback_->warmUp();
}

void KWinScreenShotCopier::warmUp() {
    if (fallback_)
        return fallback_->warmUp();
    const QVariantList area{0, 0, 1u, 1u, QVariantMap()};
    auto* call = new ScreenShotCall( // owns itself
        kService, QStringLiteral("CaptureArea"), area, options_.kwinTimeout,
        [this, alive = std::weak_ptr<bool>(alive_)](std::variant<QImage, ScreenShotFailure> result) {
            if (alive.expired())
                return;
            if (auto* failure = std::get_if<ScreenShotFailure>(&result))
                fallBack(*failure);
        });
    call->start();
}

void KWinScreenShotCopier::copyOutputs(const QStringList& names, Done done) {
    if (fallback_)
        return fallback_->copyOutputs(names, std::move(done));
    const std::vector<OutputInfo> chosen = outputsNamed(currentLayout(connection_.get()), names);
    if (chosen.empty())
        return done({});

    // The calls run side by side; the last one to finish hands the images on, or the whole copy to
    // the portal when any failed.
    struct Copy {
        std::vector<OutputImage> images;
        std::optional<ScreenShotFailure> failure;
        std::size_t pending = 0;
        Done done;
    };
    auto copy = std::make_shared<Copy>();
    copy->images.resize(chosen.size());
    copy->pending = chosen.size();
    copy->done = std::move(done);
    const QVariantMap options{{QStringLiteral("native-resolution"), true},
                              {QStringLiteral("include-cursor"), false}};
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        const OutputInfo& o = chosen[i];
        copy->images[i].name = o.name;
        copy->images[i].logical = o.logical;
        auto* call = new ScreenShotCall( // owns itself
            kService, QStringLiteral("CaptureScreen"), {o.name, options}, options_.kwinTimeout,
            [this, alive = std::weak_ptr<bool>(alive_), copy, i, names,
             pixels = o.pixelSize()](std::variant<QImage, ScreenShotFailure> result) {
                if (auto* failure = std::get_if<ScreenShotFailure>(&result)) {
                    if (!copy->failure)
                        copy->failure = *failure;
                } else {
                    QImage& image = copy->images[i].image;
                    image = std::move(std::get<QImage>(result));
                    if (image.size() != pixels) // KWin gave logical pixels after all
                        image = image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                }
                if (--copy->pending > 0)
                    return;
                if (!copy->failure)
                    return copy->done(std::move(copy->images));
                if (alive.expired()) {
                    logLine(QStringLiteral("KWin's ScreenShot2 failed: %1").arg(describe(*copy->failure)));
                    return copy->done({});
                }
                fallBack(*copy->failure);
                fallback_->copyOutputs(names, std::move(copy->done));
            });
        call->start();
    }
}

std::unique_ptr<OutputCopier> makeKWinScreenShotCopier(std::shared_ptr<WaylandConnection> connection,
                                                       const CopierOptions& options) {
    // One short call: KWin answers its version where it offers the interface.
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kInterface << QStringLiteral("Version");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 1000);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        // A KWin busy starting up (it renders in software on many machines) may let the second pass;
        // the portal would give nothing there, and the warm-up copy finds out whether the road works.
        QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
        if (reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.NoReply") || !bus ||
            !bus->isServiceRegistered(kService)) {
            logLine(
                QStringLiteral("KWin's ScreenShot2 is not on the session bus (%1)").arg(reply.errorName()));
            return nullptr;
        }
        logLine(QStringLiteral("KWin did not answer within a second; its ScreenShot2 is tried all the same"));
    }
    return std::make_unique<KWinScreenShotCopier>(std::move(connection), options);
}

} // namespace glimra::wayland
