#pragma once
// The window server on a Wayland desktop (display/WindowServer.h has what it is to the capture code):
// screens from Qt's, pixels copied from the compositor's outputs (a screen-copy protocol at once, or the
// desktop portal seconds later), the window list from sway's IPC where the compositor is sway.
//
// Each screen's scale is the compositor's own: the output's device pixels (its mode, upright) against
// its size in the layout's logical coordinates (xdg-output), 1.5 for a 1920x1080 mode shown as 1280x720
// points. Qt 6.4 knows only whole-number wl_output scales and rounds 1.25 and 1.5 up to 2, so its device
// pixel ratio is never taken for a grab.
//
// Each output keeps its own buffers, so a snapshot holds one plane per screen. Their native rectangles
// are laid out on a grid of the finest scale rounded up (a screen's logical corner times that scale, its
// device pixels beside it): they never overlap, and the arithmetic of DisplayGeometry holds on them as
// on X11's root window.

#include "display/WindowServer.h"

#include <memory>

namespace glimra::wayland {

class OutputCopier;
class SwayIpc;
class WaylandConnection;
struct OutputInfo;

// The screens of these outputs, in global display coordinates (the primary's top-left corner at 0, 0;
// the first output is primary when none is named so), the primary first.
std::vector<ScreenGeometry> screensOfOutputs(const std::vector<OutputInfo>& outputs,
                                             const QString& primaryName);

class WaylandWindowServer final : public glimra::WindowServer {
public:
    // Over a connection of its own (where the outputs' scales come from) and the copier the desktop
    // offers (nullptr when none: no grab succeeds then, with a log line each); with the window list and
    // the focused output from sway's IPC ($SWAYSOCK) where swayWindows says the compositor is sway.
    static std::unique_ptr<WaylandWindowServer> connect(bool swayWindows);
    // connection may be null: the screens are then Qt's.
    WaylandWindowServer(std::shared_ptr<WaylandConnection> connection, std::unique_ptr<OutputCopier> copier,
                        bool swayWindows);
    ~WaylandWindowServer() override;

    std::vector<ScreenGeometry> screens() const override;
    void grabRect(const QRectF& rectInGlobalDisplayPoints, ImageHandler done) override;
    void grabScreen(const QScreen* screen, ImageHandler done) override;
    // With the window list as it was before anything of the overlay showed (sway's tree hides windows
    // that a full-screen window covers).
    void grabDesktop(SnapshotHandler done) override;
    // Nothing of a window is to be had on its own: an overlay cuts it from its picture of the desktop.
    QImage createImageOfWindow(WindowNumber windowNumber) override;
    // sway's windows, this process's own left out; nullopt elsewhere.
    std::optional<std::vector<WindowInfo>> copyWindowInfo(bool onScreenOnly,
                                                          bool excludeDesktopElements) override;
    // sway's focused output.
    QString focusedScreenName() override;
    void warmUp() override;
    void releaseBuffers() override;

private:
    // Copies the outputs of these screens (every screen when empty) into a snapshot of them.
    void copy(const std::vector<ScreenGeometry>& screens, bool withWindows, SnapshotHandler done);
    SwayIpc* sway();

    std::shared_ptr<WaylandConnection> connection_;
    mutable std::vector<ScreenGeometry> lastScreens_; // as the compositor last told them
    std::unique_ptr<OutputCopier> copier_;
    std::unique_ptr<SwayIpc> sway_;
    bool swayWindows_;
};

} // namespace glimra::wayland
