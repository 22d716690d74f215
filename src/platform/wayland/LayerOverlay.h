#pragma once
// The capture's overlay on the layer shell's overlay layer (zwlr_layer_shell_v1: sway, KWin, Hyprland,
// river, labwc, wayfire...), on a connection of the helper's own (the seat's, which the keymap reader of
// the hot keys shares; WaylandDesktop.h): one surface per output, anchored to
// all its edges, above every window (a full-screen one stays full screen beneath it), out of reach of
// the compositor's "close window", with the whole keyboard while the capture runs.
//
// Each surface shows the rendering of a QWidget of the helper's (the overlay's window for that screen,
// with the resize panel inside it), which is never shown as a window: Qt 6.4 has no layer-shell
// integration of its own, and a plugin for its Wayland platform would need QtWaylandClient's private
// headers of the exact Qt version installed, which Debian does not ship and which change with every
// Qt release. Drawing through QWidget::render and handing input over as ordinary Qt events uses Qt's
// public API alone, so it stays correct across Qt updates. The pointer and the keys over any of the
// surfaces go to the widgets as a shown window's would: the pointer to the window under it (during a
// drag, to the one it was pressed on), keys to the window that took the keyboard last, whichever
// output's surface the compositor hands them to.
//
// Each surface's buffer has the output's own device pixels (wp_viewporter scales it to the output's
// logical size, so a fractional scale such as 1.5 shows pixel for pixel); without wp_viewporter, whole
// pixels per point, the next scale up. Buffers outlive their surface for a minute, for the next capture:
// the pages of a fresh 33 MB buffer (a 3840x2160 output) cost more to fault in than to paint.

#include "overlay/OverlayDesktop.h"

#include <QPointF>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace glimra::wayland {

class WaylandConnection;

class LayerOverlay {
public:
    // On that connection (kept as long as the overlay); nullptr (quietly) where the compositor offers no
    // layer shell, or none answers.
    static std::unique_ptr<LayerOverlay> create(std::shared_ptr<WaylandConnection> connection);
    ~LayerOverlay();
    LayerOverlay(const LayerOverlay&) = delete;
    LayerOverlay& operator=(const LayerOverlay&) = delete;

    // A surface showing window on the output named screenName (as QScreen::name()); it must not
    // outlive window or this object. nullptr (with a log line) for an output the compositor does not
    // know.
    std::unique_ptr<OverlaySurface> makeSurface(QWidget& window, const QString& screenName,
                                                OverlayDesktop::WindowPainter paint,
                                                std::function<void(const QString&)> lost);
    // The pointer's last place over one of the surfaces, in Qt's global coordinates; nullopt before it
    // came over one.
    std::optional<QPointF> pointerPosition() const;
    // Returns once the compositor has carried out every request so far (a hidden surface is off the
    // screen); false when it did not answer.
    bool sync();

    struct Shared;

private:
    explicit LayerOverlay(std::shared_ptr<Shared> shared);
    std::shared_ptr<Shared> shared_;
};

} // namespace glimra::wayland
