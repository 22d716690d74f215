#include "wayland/WaylandWindowServer.h"

#include "Log.h"
#include "wayland/OutputCopier.h"
#include "wayland/SwayIpc.h"
#include "wayland/WaylandConnection.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>

#include <unistd.h>

namespace glimra::wayland {

namespace {

// The finest scale of the screens, whole: the grid the planes' native rectangles lie on.
int gridScale() {
    qreal finest = 1;
    for (const QScreen* s : QGuiApplication::screens())
        finest = std::max(finest, s->devicePixelRatio());
    return int(std::ceil(finest));
}

QString qtPrimaryName() {
    const QScreen* primary = qGuiApp ? QGuiApplication::primaryScreen() : nullptr;
    return primary ? primary->name() : QString();
}

} // namespace

std::vector<ScreenGeometry> screensOfOutputs(const std::vector<OutputInfo>& outputs,
                                             const QString& primaryName) {
    std::vector<ScreenGeometry> out;
    if (outputs.empty())
        return out;
    auto primary = std::find_if(outputs.begin(), outputs.end(),
                                [&](const OutputInfo& o) { return o.name == primaryName; });
    if (primary == outputs.end())
        primary = outputs.begin();
    // A compositor that lays its outputs out in device pixels (GNOME's physical layout mode, where
    // xdg-output's logical size is the mode's) still sizes every surface in pixels over the output's
    // wl_output scale: that is the output's size in points, its corner staying where the layout has it.
    const auto pointsOf = [](const OutputInfo& o) {
        const QSizeF pixels = o.pixelSize();
        return o.scale > 1 && o.logical.size() == o.pixelSize() ? pixels / o.scale : QSizeF(o.logical.size());
    };
    qreal finest = 1;
    for (const OutputInfo& o : outputs)
        if (!o.logical.isEmpty())
            finest = std::max(finest, o.pixelSize().width() / pointsOf(o).width());
    const int grid = int(std::ceil(finest - 1e-9));
    const QPoint origin = primary->logical.topLeft();
    for (const OutputInfo& o : outputs) {
        if (o.logical.isEmpty() || o.pixelSize().isEmpty())
            continue;
        const QSizeF points = pointsOf(o);
        out.push_back({o.name, QRectF(QPointF(o.logical.topLeft() - origin), points),
                       QRect(o.logical.topLeft() * grid, o.pixelSize()),
                       o.pixelSize().width() / points.width(), &o == &*primary});
    }
    std::stable_partition(out.begin(), out.end(), [](const ScreenGeometry& g) { return g.primary; });
    return out;
}

std::unique_ptr<WaylandWindowServer> WaylandWindowServer::connect(bool swayWindows) {
    std::shared_ptr<WaylandConnection> connection = WaylandConnection::connect();
    std::unique_ptr<OutputCopier> copier = makeOutputCopier(connection);
    return std::make_unique<WaylandWindowServer>(std::move(connection), std::move(copier), swayWindows);
}

WaylandWindowServer::WaylandWindowServer(std::shared_ptr<WaylandConnection> connection,
                                         std::unique_ptr<OutputCopier> copier, bool swayWindows)
    : connection_(std::move(connection)), copier_(std::move(copier)), swayWindows_(swayWindows) {
    if (connection_)
        lastScreens_ = screensOfOutputs(connection_->outputs(), qtPrimaryName());
}

WaylandWindowServer::~WaylandWindowServer() = default;

std::vector<ScreenGeometry> WaylandWindowServer::screens() const {
    // The compositor's outputs as they are now: a change arrives on this connection as on Qt's. A new
    // output's logical size comes a round trip after the output itself.
    if (connection_ && !connection_->broken())
        for (int trip = 0; trip < 2 && connection_->sync(); ++trip)
            if (std::vector<ScreenGeometry> fromOutputs =
                    screensOfOutputs(connection_->outputs(), qtPrimaryName());
                !fromOutputs.empty()) {
                lastScreens_ = fromOutputs;
                return fromOutputs;
            }
    // A compositor slow to answer (one rendering in software under load) keeps the outputs it had: Qt's
    // own idea of them rounds fractional scales up.
    if (!lastScreens_.empty())
        return lastScreens_;
    const int grid = qGuiApp ? gridScale() : 1;
    return qtScreens([grid](const QString&, const QRect& logical, qreal scale) {
        return QRect(logical.topLeft() * grid, (QSizeF(logical.size()) * scale).toSize());
    });
}

void WaylandWindowServer::copy(const std::vector<ScreenGeometry>& screens, bool withWindows,
                               SnapshotHandler done) {
    if (!copier_) {
        writeLogLine(QStringLiteral("No picture of the screens: the compositor offers no way to copy them"));
        done(nullptr);
        return;
    }
    std::optional<std::vector<WindowInfo>> windows;
    if (withWindows)
        windows = copyWindowInfo(true, true);
    QStringList names;
    for (const ScreenGeometry& s : screens)
        names << s.name;
    const std::vector<ScreenGeometry> all = this->screens();
    copier_->copyOutputs(
        names, [all, windows = std::move(windows), done = std::move(done)](std::vector<OutputImage> images) {
            if (images.empty()) {
                done(nullptr);
                return;
            }
            std::vector<DesktopSnapshot::Plane> planes;
            for (OutputImage& image : images) {
                const auto s = std::find_if(all.begin(), all.end(),
                                            [&](const ScreenGeometry& g) { return g.name == image.name; });
                if (s == all.end())
                    continue;
                QImage pixels = std::move(image.image);
                // Only an output changed between reading the layout and copying it comes in another size.
                if (pixels.size() != s->native.size())
                    pixels = pixels.scaled(s->native.size());
                planes.push_back({s->native, std::move(pixels)});
            }
            done(std::make_shared<const DesktopSnapshot>(std::move(planes), all, windows));
        });
}

void WaylandWindowServer::grabRect(const QRectF& rect, ImageHandler done) {
    std::vector<ScreenGeometry> touched;
    for (const ScreenGeometry& s : screens())
        if (s.points.intersects(rect))
            touched.push_back(s);
    if (touched.empty()) {
        writeLogLine(QStringLiteral("No image of (%1, %2, %3 x %4): it lies on no screen")
                         .arg(rect.x())
                         .arg(rect.y())
                         .arg(rect.width())
                         .arg(rect.height()));
        done(QImage());
        return;
    }
    copy(touched, false, [rect, done = std::move(done)](std::shared_ptr<const DesktopSnapshot> snapshot) {
        done(snapshot ? snapshot->imageOfRect(rect) : QImage());
    });
}

void WaylandWindowServer::grabScreen(const QScreen* screen, ImageHandler done) {
    if (!screen || !QGuiApplication::screens().contains(const_cast<QScreen*>(screen))) {
        writeLogLine(QStringLiteral("No image of a screen the application does not know"));
        done(QImage());
        return;
    }
    // Where the compositor has it, which Qt 6.4 may see otherwise (a layout in device pixels).
    for (const ScreenGeometry& s : screens())
        if (s.name == screen->name())
            return grabRect(s.points, std::move(done));
    grabRect(QRectF(screen->geometry()).translated(-globalDisplayOrigin()), std::move(done));
}

void WaylandWindowServer::grabDesktop(SnapshotHandler done) {
    copy({}, true, std::move(done));
}

QImage WaylandWindowServer::createImageOfWindow(WindowNumber) {
    return QImage();
}

SwayIpc* WaylandWindowServer::sway() {
    // A connection broken by a restarting sway is made again at the next question.
    if (sway_ && sway_->broken())
        sway_.reset();
    if (!sway_ && swayWindows_)
        sway_ = SwayIpc::connect();
    return sway_.get();
}

std::optional<std::vector<WindowInfo>> WaylandWindowServer::copyWindowInfo(bool, bool) {
    SwayIpc* ipc = sway();
    if (!ipc)
        return std::nullopt;
    const std::optional<std::vector<SwayWindow>> windows = ipc->windows();
    if (!windows)
        return std::nullopt;
    const QPointF origin = globalDisplayOrigin();
    std::vector<WindowInfo> out;
    for (const SwayWindow& w : *windows) {
        // The helper's own windows are never what a click on the desktop means.
        if (w.pid == getpid())
            continue;
        WindowInfo info;
        info.number = WindowNumber(w.id);
        info.bounds = QRectF(w.bounds).translated(-origin);
        info.name = w.name;
        info.ownerPid = w.pid;
        info.onScreen = true;
        out.push_back(std::move(info));
    }
    return out;
}

QString WaylandWindowServer::focusedScreenName() {
    SwayIpc* ipc = sway();
    return ipc ? ipc->focusedOutput() : QString();
}

void WaylandWindowServer::warmUp() {
    if (copier_)
        copier_->warmUp();
}

void WaylandWindowServer::releaseBuffers() {
    if (copier_)
        copier_->releaseBuffers();
}

} // namespace glimra::wayland
