#pragma once
// A small floating panel that shows a drawn dark box instead of a window frame. Whatever style is
// asked for, it has no title bar and no window manager frame; it floats above other windows, is
// dragged by its background (its top edge held below the top of the main screen's available area),
// does not make the helper the active application when clicked, and still takes the keyboard so its
// fields accept typing.
//
// Its mouse movements go to an auxiliary responder while one is set, and only then does it track the
// pointer. The panel does not own the responder: whoever sets it clears it before it goes away.
//
// Its transparent parts show the windows beneath only where a compositing manager runs; without one
// the panel's window is cut to the box's outline, in the device pixels of the screen it is on, so no
// black corners show around it.
//
// It may also live inside another window (made its child), where a display server cannot place a
// window of its own at a position of the desktop: it then stays inside that window.
//
// A press anywhere on it, its controls included, gives it the keyboard: no window manager activates
// it when it is clicked.

#include "DarkPanelProtocol.h"
#include "NSGeometry.h"
#include "NSImage.h"

#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <memory>

class QScreen;
namespace glimra {
class PanelDesktop;
}

// Window styles a caller may ask for; the panel always is a non-activating utility panel.
enum NSWindowStyleMask : unsigned {
    NSBorderlessWindowMask = 0,
    NSTitledWindowMask = 1 << 0,
    NSClosableWindowMask = 1 << 1,
    NSMiniaturizableWindowMask = 1 << 2,
    NSResizableWindowMask = 1 << 3,
    NSUtilityWindowMask = 1 << 4,
    NSNonactivatingPanelMask = 1 << 7,
};

// Draws the panel's box: the dirty area cleared to transparent, then the nine "dark_box_" images at
// 0.95 opacity over the whole view. The images are loaded at the first paint and kept.
class DarkPanelContentView : public QWidget {
    Q_OBJECT
public:
    explicit DarkPanelContentView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<glimra::NSImage> _topLeft;
    std::shared_ptr<glimra::NSImage> _topMiddle;
    std::shared_ptr<glimra::NSImage> _topRight;
    std::shared_ptr<glimra::NSImage> _middleLeft;
    std::shared_ptr<glimra::NSImage> _middleMiddle;
    std::shared_ptr<glimra::NSImage> _middleRight;
    std::shared_ptr<glimra::NSImage> _bottomLeft;
    std::shared_ptr<glimra::NSImage> _bottomMiddle;
    std::shared_ptr<glimra::NSImage> _bottomRight;
};

class DarkPanel : public QWidget {
    Q_OBJECT
public:
    // contentRect in screen coordinates (y up); styleMask is ignored.
    DarkPanel(const glimra::NSRect& contentRect, unsigned styleMask, QWidget* parent = nullptr);
    ~DarkPanel() override;

    unsigned styleMask() const { return NSUtilityWindowMask | NSNonactivatingPanelMask; }
    bool canBecomeKeyWindow() const { return true; }
    // Shows the panel above everything and gives it the keyboard.
    void makeKeyAndOrderFront();
    // Shows the panel above everything (the helper's other windows too) without touching the keyboard.
    void orderFrontRegardless();
    // Gives the panel the keyboard, without making the helper the active application: typing goes
    // to the initial first responder unless another of the panel's widgets has the focus already.
    void makeKeyWindow();
    void orderOut();
    QWidget* initialFirstResponder() const { return initialFirstResponder_; }
    void setInitialFirstResponder(QWidget* widget) { initialFirstResponder_ = widget; }

    DarkPanelContentView* contentView() const { return contentView_; }

    DarkPanelProtocol* auxiliaryMouseMovedResponder() const { return _auxiliaryMouseMovedResponder; }
    void setAuxiliaryMouseMovedResponder(DarkPanelProtocol* responder);
    bool acceptsMouseMovedEvents() const { return hasMouseTracking(); }

    // The frame in screen coordinates (y up, origin at the main screen's bottom-left).
    glimra::NSRect frame() const;
    void setFrameOrigin(glimra::NSPoint origin);

    // The pointer of an event in the panel's own coordinates (y up, origin at its bottom-left), from
    // its global position: the panel may have moved since the event was made.
    glimra::NSPoint locationInWindow(const QMouseEvent* event) const;
    // A point of the panel's own coordinates in screen coordinates.
    glimra::NSPoint convertPointToScreen(glimra::NSPoint pointInWindow) const;

    void mouseDown(QMouseEvent* event);
    void mouseDragged(QMouseEvent* event);
    void mouseMoved(QMouseEvent* event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // The window cut to the box's outline where no compositing manager runs, whole where one does.
    void updateWindowShape();
    // Watches the panel's own window, once it has one (it may instead live inside another window).
    void hookWindow();
    // Where the panel is in Qt's global coordinates, in a window of its own or inside another.
    QRect globalGeometry() const;
    // Cuts the outline again whenever the scale of screen, the window's screen, changes.
    void followScreen(QScreen* screen);

    glimra::NSPoint _initialLocation;
    DarkPanelProtocol* _auxiliaryMouseMovedResponder = nullptr;
    std::unique_ptr<glimra::PanelDesktop> desktop_;
    DarkPanelContentView* contentView_; // owned as a child widget
    QPointer<QWidget> initialFirstResponder_;
    QMetaObject::Connection screenScale_;
    QPointer<QWindow> hookedWindow_;
};
