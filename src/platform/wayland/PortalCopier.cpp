#include "wayland/PortalCopier.h"

#include "wayland/DesktopPortal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QFile>
#include <QUrl>

#include <cmath>

namespace glimra::wayland {

namespace {

void deleteAnsweredFile(const QVariantMap& results) {
    const QUrl uri(results.value(QStringLiteral("uri")).toString());
    if (uri.isLocalFile())
        QFile::remove(uri.toLocalFile());
}

// The image of the portal's answer, its file deleted; nothing (logged) for a refusal or no image.
std::optional<QImage> screenshotOf(const PortalResponse& answer) {
    if (answer.code != 0) {
        logLine(answer.code == 1
                    ? QStringLiteral("the screenshot was cancelled at the desktop portal")
                    : QStringLiteral(
                          "the desktop portal refused the screenshot: its backend failed to take one or "
                          "does not allow it"));
        return std::nullopt;
    }
    const QUrl uri(answer.results.value(QStringLiteral("uri")).toString());
    if (!uri.isLocalFile()) {
        logLine(QStringLiteral("the desktop portal answered with no file (\"%1\")").arg(uri.toString()));
        return std::nullopt;
    }
    QImage image(uri.toLocalFile());
    QFile::remove(uri.toLocalFile());
    if (image.isNull()) {
        logLine(QStringLiteral("the desktop portal's file \"%1\" holds no image").arg(uri.toLocalFile()));
        return std::nullopt;
    }
    return image;
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

PortalCopier::PortalCopier(std::shared_ptr<WaylandConnection> connection, const CopierOptions& options)
    : connection_(std::move(connection)), options_(options) {}

void PortalCopier::copyOutputs(const QStringList& names, Done done) {
    const std::vector<OutputInfo> outputs = currentLayout(connection_.get());
    std::vector<OutputInfo> chosen = outputsNamed(outputs, names);
    if (chosen.empty())
        return done({});
    static bool told = false; // once per process
    if (!told && qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QLatin1String("GNOME"))) {
        told = true;
        logLine(QStringLiteral("screenshots go through the desktop portal; GNOME asks the user once to allow "
                               "them"));
    }
    QDBusMessage call = QDBusMessage::createMethodCall(options_.portalService, kPortalPath,
                                                       QStringLiteral("org.freedesktop.portal.Screenshot"),
                                                       QStringLiteral("Screenshot"));
    call << QString();                 // no parent window
    auto* request = new PortalRequest( // owns itself
        call, {{QStringLiteral("interactive"), false}, {QStringLiteral("modal"), false}},
        QStringLiteral("Screenshot call"), options_.portalTimeout,
        [outputs, chosen = std::move(chosen), done = std::move(done)](std::optional<PortalResponse> answer) {
            const std::optional<QImage> whole = answer ? screenshotOf(*answer) : std::nullopt;
            if (!whole)
                return done({});
            std::vector<OutputImage> all = cutIntoOutputs(*whole, outputs), picked;
            for (const OutputInfo& o : chosen)
                for (OutputImage& image : all)
                    if (image.name == o.name)
                        picked.push_back(std::move(image));
            done(std::move(picked));
        },
        [](const PortalResponse& late) { deleteAnsweredFile(late.results); });
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
