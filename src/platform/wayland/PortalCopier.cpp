#include "wayland/PortalCopier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QRandomGenerator>
#include <QUrl>

#include <cmath>

namespace glimra::wayland {

namespace {

const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
// How long a request that timed out waits for a late answer whose file it must delete.
constexpr std::chrono::minutes kLateAnswerWait{2};

// The request object the portal makes for a handle token: /org/freedesktop/portal/desktop/request/
// SENDER/TOKEN, SENDER the caller's unique name without its colon and with dots as underscores.
QString requestPath(const QString& token) {
    QString sender = QDBusConnection::sessionBus().baseService();
    sender.remove(0, 1).replace(QLatin1Char('.'), QLatin1Char('_'));
    return kPortalPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

void deleteAnsweredFile(const QVariantMap& results) {
    const QUrl uri(results.value(QStringLiteral("uri")).toString());
    if (uri.isLocalFile())
        QFile::remove(uri.toLocalFile());
}

} // namespace

std::vector<OutputImage> cutIntoOutputs(const QImage& whole, const std::vector<OutputInfo>& layout) {
    QRect box;
    for (const OutputInfo& o : layout)
        box = box.united(o.logical);
    if (box.isEmpty() || whole.isNull()) {
        logLine(QStringLiteral("the portal's screenshot cannot be cut into outputs: %1")
                    .arg(whole.isNull() ? QStringLiteral("no image") : QStringLiteral("no outputs")));
        return {};
    }
    const double scale = double(whole.width()) / box.width();
    if (std::abs(whole.height() - box.height() * scale) > std::max(1.0, scale)) {
        logLine(QStringLiteral("the portal's screenshot (%1 x %2 pixels) does not cover the outputs' layout "
                               "(%3 x %4 points)")
                    .arg(whole.width())
                    .arg(whole.height())
                    .arg(box.width())
                    .arg(box.height()));
        return {};
    }
    std::vector<OutputImage> images;
    for (const OutputInfo& o : layout) {
        const QRect source =
            QRect(int(std::lround((o.logical.x() - box.x()) * scale)),
                  int(std::lround((o.logical.y() - box.y()) * scale)),
                  int(std::lround(o.logical.width() * scale)), int(std::lround(o.logical.height() * scale)))
                .intersected(whole.rect());
        QImage part = whole.copy(source).convertToFormat(QImage::Format_RGB32);
        const QSize pixels = o.pixelSize();
        if (part.size() != pixels)
            part = part.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        images.push_back({o.name, o.logical, std::move(part)});
    }
    return images;
}

PortalRequest::PortalRequest(const QString& service, std::chrono::milliseconds timeout, Finish finish)
    : service_(service), timeout_(timeout), finish_(std::move(finish)),
      token_(QStringLiteral("glimra%1").arg(QRandomGenerator::global()->generate())) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &PortalRequest::timedOut);
}

PortalRequest::~PortalRequest() {
    unsubscribe();
}

void PortalRequest::start() {
    static bool told = false; // once per process
    if (!told) {
        told = true;
        logLine(QStringLiteral("screenshots go through the desktop portal; GNOME asks the user once to allow "
                               "them"));
    }
    // Subscribed before the call, so that an answer as fast as the call's reply is not missed.
    subscribe(requestPath(token_));
    QDBusMessage call = QDBusMessage::createMethodCall(service_, kPortalPath,
                                                       QStringLiteral("org.freedesktop.portal.Screenshot"),
                                                       QStringLiteral("Screenshot"));
    call << QString() // no parent window
         << QVariantMap{{QStringLiteral("handle_token"), token_},
                        {QStringLiteral("interactive"), false},
                        {QStringLiteral("modal"), false}};
    auto* watcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(call, int(timeout_.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (finished_)
            return;
        if (reply.isError()) {
            logLine(QStringLiteral("the desktop portal's Screenshot call failed: %1")
                        .arg(reply.error().message()));
            end(std::nullopt);
            return;
        }
        // Portals older than the handle token answer with a path of their own.
        if (const QString path = reply.value().path(); path != path_) {
            unsubscribe();
            subscribe(path);
        }
    });
    timer_.start(timeout_);
}

void PortalRequest::subscribe(const QString& path) {
    path_ = path;
    QDBusConnection::sessionBus().connect(service_, path_, kRequestInterface, QStringLiteral("Response"),
                                          this, SLOT(response(uint, QVariantMap)));
}

void PortalRequest::unsubscribe() {
    if (path_.isEmpty())
        return;
    QDBusConnection::sessionBus().disconnect(service_, path_, kRequestInterface, QStringLiteral("Response"),
                                             this, SLOT(response(uint, QVariantMap)));
    path_.clear();
}

void PortalRequest::response(uint code, const QVariantMap& results) {
    if (finished_) {
        logLine(QStringLiteral("a late answer of the desktop portal was ignored"));
        deleteAnsweredFile(results);
        unsubscribe();
        deleteLater();
        return;
    }
    if (code != 0) {
        logLine(code == 1
                    ? QStringLiteral("the screenshot was cancelled at the desktop portal")
                    : QStringLiteral("the desktop portal refused the screenshot (response %1)").arg(code));
        end(std::nullopt);
        return;
    }
    const QUrl uri(results.value(QStringLiteral("uri")).toString());
    if (!uri.isLocalFile()) {
        logLine(QStringLiteral("the desktop portal answered with no file (\"%1\")").arg(uri.toString()));
        end(std::nullopt);
        return;
    }
    QImage image(uri.toLocalFile());
    QFile::remove(uri.toLocalFile());
    if (image.isNull()) {
        logLine(QStringLiteral("the desktop portal's file \"%1\" holds no image").arg(uri.toLocalFile()));
        end(std::nullopt);
        return;
    }
    end(std::move(image));
}

void PortalRequest::timedOut() {
    logLine(QStringLiteral("the desktop portal did not answer within %1 ms").arg(timeout_.count()));
    finished_ = true;
    Finish finish = std::move(finish_);
    // Waits on for a late answer, so its file is deleted.
    QTimer::singleShot(kLateAnswerWait, this, &QObject::deleteLater);
    finish(std::nullopt);
}

void PortalRequest::end(std::optional<QImage> image) {
    if (finished_)
        return;
    finished_ = true;
    timer_.stop();
    unsubscribe();
    Finish finish = std::move(finish_);
    deleteLater();
    finish(std::move(image));
}

PortalCopier::PortalCopier(std::shared_ptr<WaylandConnection> connection, const CopierOptions& options)
    : connection_(std::move(connection)), options_(options) {}

void PortalCopier::copyOutputs(const QStringList& names, Done done) {
    const std::vector<OutputInfo> outputs = currentLayout(connection_.get());
    std::vector<OutputInfo> chosen = outputsNamed(outputs, names);
    if (chosen.empty())
        return done({});
    auto* request = new PortalRequest( // owns itself
        options_.portalService, options_.portalTimeout,
        [outputs, chosen = std::move(chosen), done = std::move(done)](std::optional<QImage> whole) {
            if (!whole)
                return done({});
            std::vector<OutputImage> all = cutIntoOutputs(*whole, outputs), picked;
            for (const OutputInfo& o : chosen)
                for (OutputImage& image : all)
                    if (image.name == o.name)
                        picked.push_back(std::move(image));
            done(std::move(picked));
        });
    request->start();
}

void PortalCopier::warmUp() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.asyncCall(QDBusMessage::createMethodCall(
                      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("StartServiceByName"))
                  << options_.portalService << 0u);
}

std::unique_ptr<OutputCopier> makePortalCopier(std::shared_ptr<WaylandConnection> connection,
                                               const CopierOptions& options) {
    return std::make_unique<PortalCopier>(std::move(connection), options);
}

} // namespace glimra::wayland
