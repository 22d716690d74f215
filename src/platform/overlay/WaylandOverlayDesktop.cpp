#include "overlay/WaylandOverlayDesktop.h"

#include "display/WindowServer.h"
#include "overlay/ScreenChangeWatch.h"
#include "wayland/LayerPictures.h"

#include <QWindow>

namespace glimra {

namespace {

class WaylandOverlayDesktop final : public OverlayDesktop {
public:
    explicit WaylandOverlayDesktop(WindowServer& server) : server_(server) {}

    std::vector<ScreenGeometry> screens() override { return server_.screens(); }
    // A Wayland compositor always composites; a surface covers one output, is placed by the compositor
    // alone, and has no shape but its transparent pixels.
    bool composites() override { return true; }
    bool windowsSpanScreens() override { return false; }
    bool placesWindowsAnywhere() override { return false; }
    bool shapesWindows() override { return false; }

    std::unique_ptr<QObject> observeScreenChanges(std::function<void()> changed) override {
        return std::make_unique<ScreenChangeWatch>(std::move(changed));
    }

    void takeSnapshot(SnapshotHandler done) override { server_.grabDesktop(std::move(done)); }

    QImage imageOfWindowContents(uint32_t) override { return QImage(); }

    WindowStyle overlayWindowStyle() override {
        // Full screen is what puts a surface over a whole output, panels and bars included.
        return {Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint,
                true};
    }

    void setPassesClicksThrough(QWindow& window, bool passes) override {
        // The window's input region: an empty mask means the whole window, so one pixel beside it
        // stands for none at all.
        window.setMask(passes ? QRegion(-1, -1, 1, 1) : QRegion());
    }

    void setVisibleRegion(QWindow&, const std::optional<QRegion>&) override {}

    // Qt hands its requests to the compositor as its event loop comes round; every grab that follows
    // hiding the overlay waits longer than that.
    void sync() override {}

    // Where the compositor offers the layer shell, a picture above everything that takes no input; a
    // toplevel window (full screen or not) may keep the pointer whatever its input region (sway does).
    bool windowsPassClicksThrough() override { return !layerPictures(); }
    bool showClickThroughPicture(const QString& screenName, const QImage& picture) override {
        wayland::LayerPictures* pictures = layerPictures();
        return pictures && pictures->show(screenName, picture);
    }

private:
    wayland::LayerPictures* layerPictures() {
        if (!triedLayerPictures_) {
            triedLayerPictures_ = true;
            layerPictures_ = wayland::LayerPictures::create();
        }
        return layerPictures_.get();
    }

    WindowServer& server_;
    std::unique_ptr<wayland::LayerPictures> layerPictures_;
    bool triedLayerPictures_ = false;
};

} // namespace

std::unique_ptr<OverlayDesktop> makeWaylandOverlayDesktop(WindowServer& windowServer) {
    return std::make_unique<WaylandOverlayDesktop>(windowServer);
}

} // namespace glimra
