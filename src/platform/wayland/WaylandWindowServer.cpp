#include "wayland/WaylandWindowServer.h"

#include "Log.h"
#include "wayland/OutputCopier.h"
#include "wayland/SwayIpc.h"

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

} // namespace

std::unique_ptr<WaylandWindowServer> WaylandWindowServer::connect() {
    return std::make_unique<WaylandWindowServer>(makeOutputCopier());
}

WaylandWindowServer::WaylandWindowServer(std::unique_ptr<OutputCopier> copier) : copier_(std::move(copier)) {}

WaylandWindowServer::~WaylandWindowServer() = default;

std::vector<ScreenGeometry> WaylandWindowServer::screens() const {
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
                // A scale that divides the output's pixels unevenly leaves Qt's size a pixel off.
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
    grabRect(QRectF(screen->geometry()).translated(-globalDisplayOrigin()), std::move(done));
}

void WaylandWindowServer::grabDesktop(SnapshotHandler done) {
    copy({}, true, std::move(done));
}

QImage WaylandWindowServer::createImageOfWindow(uint32_t) {
    return QImage();
}

SwayIpc* WaylandWindowServer::sway() {
    // A connection broken by a restarting sway is made again at the next question.
    if (sway_ && sway_->broken())
        sway_.reset();
    if (!sway_ && (!triedSway_ || !qEnvironmentVariableIsEmpty("SWAYSOCK"))) {
        triedSway_ = true;
        if (!qEnvironmentVariableIsEmpty("SWAYSOCK"))
            sway_ = SwayIpc::connect();
    }
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
        info.number = uint32_t(w.id);
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
