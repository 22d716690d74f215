#pragma once
// What a floating panel with a drawn, partly transparent box needs from the display server, kept apart
// from the panel so that another display server brings only this: whether the transparent parts of
// a window show the windows beneath it, and how to cut a window to the part of it that shows.

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

// The desktop Qt talks to: an X server's, or else one whose compositor always shows what lies beneath
// a translucent window, where nothing needs cutting.
std::unique_ptr<PanelDesktop> makePanelDesktop();

} // namespace glimra
