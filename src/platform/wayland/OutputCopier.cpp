#include "wayland/OutputCopier.h"

#include "wayland/DesktopPortal.h"
#include "wayland/WaylandConnection.h"

#include <QDBusConnection>

namespace glimra::wayland {

namespace {

std::optional<CopierOptions::Road> roadFromEnvironment() {
    const QString forced = qEnvironmentVariable("GLIMRA_WAYLAND_CAPTURE");
    if (forced.isEmpty())
        return std::nullopt;
    if (forced == QLatin1String("ext-image-copy-capture"))
        return CopierOptions::Road::ExtImageCopyCapture;
    if (forced == QLatin1String("wlr-screencopy"))
        return CopierOptions::Road::WlrScreencopy;
    if (forced == QLatin1String("kwin-screenshot2"))
        return CopierOptions::Road::KWinScreenShot;
    if (forced == QLatin1String("portal"))
        return CopierOptions::Road::Portal;
    logLine(QStringLiteral("GLIMRA_WAYLAND_CAPTURE=%1 is none of ext-image-copy-capture, wlr-screencopy, "
                           "kwin-screenshot2, portal; choosing by what the compositor offers")
                .arg(forced));
    return std::nullopt;
}

} // namespace

std::unique_ptr<OutputCopier> makeOutputCopier(const CopierOptions& options) {
    return makeOutputCopier(WaylandConnection::connect(options.socket), options);
}

std::unique_ptr<OutputCopier> makeOutputCopier(std::shared_ptr<WaylandConnection> connection,
                                               const CopierOptions& options) {
    using Road = CopierOptions::Road;
    const Road road = roadFromEnvironment().value_or(options.road);
    std::unique_ptr<OutputCopier> copier;
    if (road == Road::Automatic || road == Road::ExtImageCopyCapture)
        copier = makeImageCopyCaptureCopier(connection);
    if (!copier && (road == Road::Automatic || road == Road::WlrScreencopy))
        copier = makeScreencopyCopier(connection);
    if (!copier && (road == Road::Automatic || road == Road::KWinScreenShot))
        copier = makeKWinScreenShotCopier(connection, options);
    if (!copier && (road == Road::Automatic || road == Road::Portal))
        copier = makePortalCopier(connection, options);
    if (copier && copier->road() == QLatin1String("portal") && !portalOffered(options.portalService))
        logLine(QStringLiteral(
            "the compositor offers no way to copy its outputs, and no desktop portal is on the "
            "session bus: no screenshot can be taken until one is"));
    else if (copier)
        logLine(QStringLiteral("outputs are copied through %1").arg(copier->road()));
    else
        logLine(QStringLiteral("the compositor offers no way to copy its outputs that was asked for"));
    return copier;
}

} // namespace glimra::wayland
