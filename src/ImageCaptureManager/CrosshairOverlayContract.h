#pragma once
// What the crosshair capture's logic (the session controller and the overlay view's selection,
// mouse and panel rules) and its windows (the overlay's X11 windows, their painting and the cursor)
// exchange. The logic never touches a widget and the windows know nothing of the selection rules, so
// each side is tested alone and a later Wayland backend replaces only the window side.
//
// Every point and rectangle here is in the overlay view's coordinates: points (Qt's
// device-independent pixels), origin at the bottom-left corner of the bounding box of all screens,
// y growing upwards. Screen coordinates are y-up too, origin at the main screen's bottom-left.

#include "CGGeometry.h"
#include "display/WindowInfo.h"

#include <QImage>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QWidget;

// One frame of the overlay as the drawing needs it.
struct OverlayDrawState {
    enum class Mode {
        Idle,      // hunting: full dimming, crosshair lines and the badge at the pointer
        FirstDrag, // dimming with the selection's hole, the badge at the pointer
        Refining,  // dimming with the hole, the four handles
        Countdown, // dimming with the hole, the countdown digit
    };
    Mode mode = Mode::Idle;
    CGRect selection;       // the hole: selectionRect while first dragging, else sanitizedSelectionRect
    uint64_t topNumber = 0; // the badge's numbers, fractions already dropped
    uint64_t bottomNumber = 0;
    double cropHandleSize = 0; // side of a handle square
    double cropHandleCenter = 0;
    QImage timerImage;       // the countdown digit (device pixel ratio set), or null
    CGRect timerDisplayRect; // where it goes
};

enum class CursorShape { Arrow, OpenHand, ClosedHand };

// How long an overlay may take to come on the screen once its picture of the desktop is there: a
// compositor that never shows it must not hold the capture (and every later one) for good.
inline constexpr int kOverlayShowTimeoutMs = 2000;

// The view's side: events in, the frame out. Locations are untruncated view coordinates.
// (Drag deltas: the pointer's movement since the previous mouse event, deltaY positive downwards. A
// timerImage made for another scale than a screen's is resampled there: load it for the finest.)
class OverlayContentView {
public:
    virtual ~OverlayContentView() = default;
    virtual void mouseDown(CGPoint locationInWindow) = 0;
    // Dropped by the view when both deltas are exactly 0.
    virtual void mouseDragged(CGPoint locationInWindow, double deltaX, double deltaY) = 0;
    virtual void mouseUp(CGPoint locationInWindow) = 0;
    virtual void mouseMoved(CGPoint locationInWindow) = 0;
    virtual OverlayDrawState drawState() const = 0;
};

// The window's side, as the controller and the view use it.
class OverlayWindow {
public:
    virtual ~OverlayWindow() = default;

    // The view receives the window's mouse events and paints through it; not owned.
    virtual void setContentView(OverlayContentView* view) = 0;

    // The top-left corner of the bounding box of all screens in global display coordinates (points,
    // y down, origin at the main screen's top-left): negative where a screen lies left of or above
    // the main one.
    virtual CGPoint displayOffset() const = 0;
    // The view's bounds: the size of that bounding box.
    virtual CGSize boundsSize() const = 0;

    // Shows the overlay above every other window (full-screen ones too) without activating the
    // helper, and gives it the keyboard so that Escape's release reaches it.
    virtual void orderFrontRegardless() = 0;
    virtual void makeKeyWindow() = 0;
    // Hidden at once: nothing of it may show in a grab that follows.
    virtual void orderOut() = 0;
    // While counting down the overlay lets the desktop show and receive clicks (all but the digit).
    virtual void setIgnoresMouseEvents(bool ignores) = 0;
    // While the resize panel exists the overlay cannot take keys (the panel's fields keep them).
    virtual void setCanBecomeKeyWindow(bool can) = 0;
    // Keeps a panel of the helper (the resize panel, created already, not yet shown) one level above
    // the overlay: it belongs to the overlay, is raised above it whenever the overlay is ordered front
    // again and shows the overlay's cursor. Where the display server cannot place a window above the
    // overlay at a position of the desktop, the panel lives inside the overlay's window of the pointer's
    // screen (its frame then stays inside that screen). nullptr lets go of it (back to a window of its
    // own, hidden); so does its destruction.
    virtual void keepPanelAbove(QWidget* panel) { (void)panel; }

    // Repaint the frame: the window works out what changed since the last painted frame.
    virtual void setNeedsDisplay() = 0;
    virtual void setNeedsDisplayInRect(const CGRect& rect) = 0;

    virtual CGPoint convertPointToScreen(CGPoint viewPoint) const = 0;
    virtual CGPoint convertPointFromScreen(CGPoint screenPoint) const = 0;
    // The pointer now, in view coordinates.
    virtual CGPoint mouseLocationOutsideOfEventStream() const = 0;
    // The X window to leave out of window lookups.
    virtual glimra::WindowNumber windowNumber() const = 0;
    // The cursor shown over the overlay (and the resize panel) while the system cursor is visible.
    virtual void setCursor(CursorShape shape) = 0;

    // Called when Escape is released while the overlay has the keyboard (never while it may not take
    // keys); the controller cancels the capture. The window may be destroyed inside the call.
    virtual void setEscapeKeyUpHandler(std::function<void()> handler) { (void)handler; }
    // Whether an X window is one of the overlay's (it may have one per screen); window lookups leave
    // all of them out.
    virtual bool ownsWindowNumber(glimra::WindowNumber number) const { return number == windowNumber(); }
    // The overlay shows a picture of the desktop taken as it was first ordered front: this cuts a
    // rectangle (global display coordinates, points, y down) out of that picture, at the highest scale
    // of the screens it touches, exactly as the user saw it. Null when there is no picture (then grab
    // the screen after hiding the overlay).
    virtual QImage createImageOfRectAsShown(const QRectF& rectInGlobalDisplayPoints) const {
        (void)rectInGlobalDisplayPoints;
        return QImage();
    }
    // The windows front to back as they were when the overlay's picture of the desktop was taken, where
    // the display server can tell them only before the overlay shows; nullopt: ask the window list now.
    virtual std::optional<std::vector<glimra::WindowInfo>> windowsAsShown() const { return std::nullopt; }
    // A window under the overlay (bounds in global display coordinates) as its image should be: its
    // own pixels where the display server keeps them, else cut from the picture; null when neither.
    virtual QImage createImageOfWindowAsShown(glimra::WindowNumber windowNumber,
                                              const QRectF& boundsInGlobalDisplayPoints) const {
        (void)windowNumber;
        return createImageOfRectAsShown(boundsInGlobalDisplayPoints);
    }
    // Called when the screens are added, removed, moved or rescaled while the overlay exists (it does
    // not follow them); the controller ends the capture. The window may be destroyed inside the call.
    virtual void setScreensChangedHandler(std::function<void()> handler) { (void)handler; }
    // Called when the overlay cannot go on, with why: no picture of the desktop could be taken for it to
    // show, the display server took one of its surfaces away, or it did not come on the screen within
    // kOverlayShowTimeoutMs. The controller ends the capture. The window may be destroyed inside the call.
    virtual void setFailedHandler(std::function<void(const QString& why)> handler) { (void)handler; }
};
