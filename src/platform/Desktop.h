#pragma once
// The desktop the helper runs on: everything that depends on the display server and its compositor,
// handed out by one object chosen once at start (DesktopLoader.h), with one implementation per
// display server: X11 (x11/X11Desktop.h), Wayland with its sway, KWin and GNOME parts
// (wayland/WaylandDesktop.h), and none at all (null/NullDesktop.h: Qt's offscreen platform, a program
// without a GUI). The rest of the helper asks it what it needs and never which display server runs.
//
// The backends derive from it without linking anything of it; what its users call beyond the virtual
// functions (the one accessor, current() and setCurrent(), and the hot keys) lives with the loader
// (DesktopLoader.cpp), which knows every backend.

#include <QString>
#include <Qt>

#include <functional>
#include <memory>

namespace carbon {
class HotKeyBackend;
}

namespace glimra {

class MouseEventSource;
class OverlayDesktop;
class PanelDesktop;
class WindowServer;

// What a desktop supports, said by the desktop itself rather than inferred from its name.
struct DesktopCapabilities {
    // A click in a region capture takes the window under the pointer: the window server lists the
    // windows front to back with where they lie (X11; sway's tree).
    bool snapsWindows = false;
    // Screens are copied at once and without asking anyone (X11's grabs; a compositor's screen-copy
    // protocol or KWin's ScreenShot2), not through the desktop portal, which takes a second or more.
    bool copiesScreensDirectly = false;
    // How the global shortcuts are held.
    enum class Shortcuts {
        None,       // not at all: the user binds the helper's actions in the desktop's settings
        KeyGrabs,   // grabbed by the helper itself (X11)
        Compositor, // bound by the compositor at the helper's request (sway's IPC)
        Portal,     // the desktop portal's GlobalShortcuts, which may ask the user
    };
    Shortcuts shortcuts = Shortcuts::None;

    bool operator==(const DesktopCapabilities&) const = default;
};

class Desktop {
public:
    virtual ~Desktop() = default;
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // The desktop of this process: the one stand-in for the platform's global state, as AppKit's
    // application object is on the Mac. main sets it once the application object exists, from the
    // display server it chose; a program that sets none (a test, a tool) gets the desktop of the
    // platform its QGuiApplication runs on, loaded at the first question (the null desktop without
    // one). Main thread only.
    static Desktop& current();
    // Takes the place of the current desktop. Whatever the old one made keeps working: nothing it
    // hands out refers back to it.
    static void setCurrent(std::unique_ptr<Desktop> desktop);

    // For log lines: "X11", "sway", "KWin", "GNOME", "Wayland", "no display".
    virtual QString name() const = 0;
    virtual DesktopCapabilities capabilities() = 0;

    // The window server: screens, grabs, the window list. It connects at once, so it is made when
    // first needed; nullptr (with a log line) when the display server cannot be reached.
    virtual std::unique_ptr<WindowServer> makeWindowServer() = 0;
    // What the capture's overlay needs of the display server, over this desktop's window server
    // (which must outlive it); nullptr (with a log line) where the overlay cannot be shown.
    virtual std::unique_ptr<OverlayDesktop> makeOverlayDesktop(WindowServer& windowServer) = 0;
    // What a floating panel with a drawn box needs of it.
    virtual std::unique_ptr<PanelDesktop> makePanelDesktop() = 0;
    // What holds the global hot keys, for the application's hot-key center (or the one the
    // environment variable GLIMRA_HOTKEYS names, which the loader puts in its place). Never null.
    std::unique_ptr<carbon::HotKeyBackend> makeHotKeyBackend();
    void forceHotKeys(std::function<std::unique_ptr<carbon::HotKeyBackend>()> make);
    // The pointer's movements and clicks over other applications, for the event monitor target.
    virtual std::unique_ptr<MouseEventSource> makeMouseEventSource() = 0;

    // The flags a floating panel's window is made with: no frame, above other windows, kept out of
    // the window manager's hands where the display server lets a program ask.
    virtual Qt::WindowFlags panelWindowFlags() const = 0;

    // The system alert.
    virtual void beep() = 0;

    // Hides the pointer on the whole desktop, as far as the display server lets a program: calls nest,
    // each hide needs its unhide; an unhide without a hide to undo does nothing.
    void hideCursor() {
        if (hidePointer())
            ++hiddenCursors_;
    }
    void unhideCursor() {
        if (hiddenCursors_ > 0 && showPointer())
            --hiddenCursors_;
    }
    // Hides made and not yet undone.
    int hiddenCursorCount() const { return hiddenCursors_; }

    // Where status items can show besides a StatusNotifierItem host: whether this desktop has XEmbed
    // system trays at all (X11 only; a Wayland panel hosts StatusNotifierItems or nothing), and whether
    // one runs now.
    virtual bool hasXEmbedTrays() const { return false; }
    virtual bool xembedTrayRuns() { return false; }

protected:
    Desktop() = default;

    virtual std::unique_ptr<carbon::HotKeyBackend> makeOwnHotKeyBackend() = 0;
    // One hide or show of the pointer; false (with a log line where it is worth one) when it did not
    // happen.
    virtual bool hidePointer() = 0;
    virtual bool showPointer() = 0;

private:
    std::function<std::unique_ptr<carbon::HotKeyBackend>()> forcedHotKeys_;
    int hiddenCursors_ = 0;
};

} // namespace glimra
