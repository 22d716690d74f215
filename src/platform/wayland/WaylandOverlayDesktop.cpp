#include "wayland/WaylandOverlayDesktop.h"

#include "display/WindowServer.h"
#include "overlay/ScreenChangeWatch.h"
#include "wayland/LayerOverlay.h"

#include <QWindow>

namespace glimra::wayland {

namespace {

class WaylandOverlayDesktop final : public OverlayDesktop {
public:
    // The layer shell's objects are made at once, so that the first capture's overlay shows as fast as
    // later ones.
    WaylandOverlayDesktop(WindowServer& server, std::shared_ptr<WaylandConnection> seat)
        : server_(server), layers_(LayerOverlay::create(std::move(seat))) {}

    std::vector<ScreenGeometry> screens() override { return server_.screens(); }
    // A Wayland compositor always composites; a surface covers one output, is placed by the compositor
    // alone, and has no shape but its transparent pixels.
    bool composites() override { return true; }
    bool windowsSpanScreens() override { return false; }
    bool laysScreensOutInPoints() override { return true; }
    bool placesWindowsAnywhere() override { return false; }
    bool shapesWindows() override { return false; }

    std::unique_ptr<QObject> observeScreenChanges(std::function<void()> changed) override {
        return std::make_unique<ScreenChangeWatch>(std::move(changed));
    }

    void takeSnapshot(SnapshotHandler done) override { server_.grabDesktop(std::move(done)); }

    QImage imageOfWindowContents(WindowNumber) override { return QImage(); }

    WindowStyle overlayWindowStyle() override {
        // Full screen is what puts a window over a whole output, panels and bars included, where the
        // compositor offers no layer shell (GNOME).
        return {Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint,
                true};
    }

    // The window list (sway's) leaves the helper's own windows out.
    WindowNumber windowNumberOf(const QWindow&) override { return kNoWindow; }

    std::unique_ptr<OverlaySurface> makeOverlaySurface(QWidget& window, const QString& screenName,
                                                       WindowPainter paint,
                                                       std::function<void(const QString&)> lost) override {
        return layers_ ? layers_->makeSurface(window, screenName, std::move(paint), std::move(lost))
                       : nullptr;
    }
    std::optional<QPointF> pointerPosition() override {
        return layers_ ? layers_->pointerPosition() : std::nullopt;
    }

    void setPassesClicksThrough(QWindow& window, bool passes) override {
        // The window's input region: an empty mask means the whole window, so one pixel beside it
        // stands for none at all.
        window.setMask(passes ? QRegion(-1, -1, 1, 1) : QRegion());
    }

    void setVisibleRegion(QWindow&, const std::optional<QRegion>&) override {}

    // A surface of the layer shell is off the screen once the compositor has read its unmapping: the
    // next frame it renders, which every copy of an output waits for, leaves it out. Qt's windows are
    // off once Qt's requests have gone out and been answered.
    void sync() override {
        if (layers_)
            layers_->sync();
    }

    // A full-screen toplevel window may keep the pointer whatever its input region (sway does); the
    // layer shell's surfaces let clicks through.
    bool windowsPassClicksThrough() override { return layers_ != nullptr; }

private:
    WindowServer& server_;
    std::unique_ptr<LayerOverlay> layers_;
};

} // namespace

std::unique_ptr<OverlayDesktop> makeWaylandOverlayDesktop(WindowServer& windowServer,
                                                          std::shared_ptr<WaylandConnection> seat) {
    return std::make_unique<WaylandOverlayDesktop>(windowServer, std::move(seat));
}

} // namespace glimra::wayland
