#pragma once
// What a floating panel with a drawn, partly transparent box needs from the display server, kept apart
// from the panel so that each display server brings only this (the desktop hands it out, Desktop.h):
// whether the transparent parts of a window show the windows beneath it, and how to cut a window to
// the part of it that shows.

#include <QRegion>

#include <memory>
#include <optional>

class QWindow;

namespace glimra {

class PanelDesktop {
public:
    virtual ~PanelDesktop() = default;

    // Whether the transparent pixels of a translucent window show the windows beneath it (a
    // compositor runs); where they do not, they show black, and the panel cuts itself to its box.
    virtual bool showsDesktopThroughTranslucentWindows() = 0;
    // Only this part of the window shows, and takes the pointer (the window's own native pixels);
    // nullopt shows all of it.
    virtual void setVisibleRegion(QWindow& window, const std::optional<QRegion>& nativeRegion) = 0;
    // Hands every request made so far to the display server now, without waiting for it.
    virtual void flush() = 0;
};

// A desktop that always shows what lies beneath a translucent window (a Wayland compositor's, Qt's
// offscreen stand-in): nothing needs cutting.
class TranslucentPanelDesktop final : public PanelDesktop {
public:
    bool showsDesktopThroughTranslucentWindows() override { return true; }
    void setVisibleRegion(QWindow&, const std::optional<QRegion>&) override {}
    void flush() override {}
};

} // namespace glimra
