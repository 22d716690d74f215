#pragma once
// One desktop for the capture scenarios, whichever it is: X11 on a server of the test's own (RandR
// monitors, Qt's scaling as a desktop sets it, a compositing manager), the sway session in a layout of
// the row's, or the KWin or GNOME Shell session as it was started. It types and points as a user does
// (the session's TestInput), shows pictures and windows of known pixels, reads what the screen shows in
// device pixels, tells whether the capture's overlay is up, and says what the desktop offers: a scenario
// that needs what a desktop lacks skips with the reason.

#include "TestInput.h"
#include "TestSupport.h"

#include <QImage>
#include <QRect>

#include <gtest/gtest.h>

#include <vector>

namespace glimra::test {

class XClient;
class PrivateDisplay;

enum class DesktopKind { X11, Sway, KWin, Gnome };

// The desktop of a row, written with designated initialisers: {.name = "...", .kind = ..., ...}.
struct DesktopSetup {
    const char* name = "";
    DesktopKind kind = DesktopKind::X11;
    // X11: RandR monitors "NAME WxH+X+Y" split at ',', the primary's name marked '*' (none: one screen).
    // sway: its outputs in with-session's --outputs grammar (none: the session's own).
    const char* layout = "";
    QSize root{1920, 1080};        // X11: the root window
    const char* scaling = "";      // X11: Qt's scale as a desktop sets it (PrivateDisplay::scaleQt)
    bool composited = false;       // X11: picom as many users run it, with fading
    bool pictureOnTheRoot = false; // X11: pictures as the root's background, which picom cannot paint
    const char* capture = "";      // Wayland: the road the helper must take (GLIMRA_WAYLAND_CAPTURE)
};

// What a desktop offers the scenarios: each empty where it does, else why it does not.
struct DesktopOffers {
    std::string windowList;    // windows listed, so a click on one captures it
    std::string placedWindows; // a window of the test's own shown where it asks
    std::string shortcuts;     // the helper's own shortcuts (else captures start by messages)
    std::string panelPlace;    // the resize panel found on screen, so its buttons can be clicked
    std::string bell;          // a bell that can be counted
    std::string heldKeys;      // who holds a key can be asked
    std::string screenPixels;  // the screen read back as the user sees it, at any time
    std::string fullScreenWindows;
};

// A screen of the desktop. Places are where the pointer reaches them: root pixels on X11, the layout's
// points on Wayland.
struct DesktopScreen {
    QString name;
    QRect place;
    double scale = 1;      // device pixels per point
    double placeScale = 1; // places per point: the scale on X11, 1 on Wayland
    QImage picture;        // what it shows of the desktop's picture, in its device pixels
    QSize points() const { return (QSizeF(place.size()) / placeScale).toSize(); }
    // The place of a point of the screen, from its corner.
    QPoint at(QPoint points) const { return place.topLeft() + (QPointF(points) * placeScale).toPoint(); }
    // The device pixels of a rectangle of points (from the screen's corner) in its picture.
    QRect pixelsOf(const QRect& points) const {
        return QRectF(QPointF(points.topLeft()) * scale, QSizeF(points.size()) * scale).toRect();
    }
};

// A window of the test's own on the desktop.
class ShownWindow {
public:
    virtual ~ShownWindow() = default;
    QString title;
    QRect frame; // its place with the decoration the desktop gives it
    QImage seen; // what the screen showed of it, in device pixels
    // Whether it was pressed since it showed, waiting up to timeoutMs.
    virtual bool pressed(int timeoutMs) = 0;
    virtual bool fullScreen() { return false; }
    // Gives it the keyboard, as a click on another application's window does.
    virtual void takeKeyboard() {}
    // Whether a capture of it shows it: as it was seen, or its own pixels where the desktop keeps them.
    virtual ::testing::AssertionResult capturedIn(const QImage& image, int tolerance);
};

class DesktopDriver {
public:
    // The desktop of setup in this session, not yet started, or null with the reason it cannot run here
    // in skip. What it offers is known before it starts, so rows that need what it lacks skip at once.
    static std::unique_ptr<DesktopDriver> make(const DesktopSetup& setup, std::string& skip);
    virtual ~DesktopDriver() = default;
    // Starts the desktop, or takes the session's in the row's layout.
    virtual bool start() = 0;

    const DesktopOffers& offers() const { return offers_; }
    TestInput& input() { return *input_; }
    const std::vector<DesktopScreen>& screens() const { return screens_; }
    const DesktopScreen& primary() const;
    // What a rectangle of a screen's points shows of the desktop's picture, in device pixels.
    QImage expected(const DesktopScreen& s, const QRect& points) const {
        return s.picture.copy(s.pixelsOf(points));
    }

    // The variables the helper needs on this desktop.
    virtual void prepare(IsolatedHome& home) = 0;
    void helperStarted(qint64 pid) { helperPid_ = pid; }
    // Whether the desktop may refuse its pixels to a first helper for a while (KWin, until it has taken
    // up the helper's new desktop entry).
    virtual bool mayRefuseTheHelperAtFirst() { return false; }
    // Makes s the screen a full-screen capture takes: the pointer over it, or its output focused.
    virtual void focus(const DesktopScreen& s) = 0;
    // A busy picture of known pixels over the whole desktop (variant tells pictures apart where the
    // desktop can change it).
    virtual void showPicture(int variant) = 0;
    // What a screen shows now, in its device pixels (where offers().screenPixels).
    virtual QImage shown(const DesktopScreen& s) = 0;
    // Notes the desktop as it is before a capture begins; overlayUp() compares with it.
    virtual void noteDesktop() {}
    // Whether the capture's overlay covers every screen now, and whether any of it is up.
    virtual bool overlayUp() = 0;
    virtual bool overlayGone() = 0;
    // How many of the overlay's windows have shown so far, where the desktop can tell (else 0).
    virtual int overlaysShown() { return 0; }
    // The desktop's "close window" on the window that has the keyboard, where a test can ask for it.
    virtual bool closeFocusedWindow() { return false; }
    // The resize panel's place, empty while none shows (where offers().panelPlace).
    virtual QRect panel() { return {}; }
    // Whether the panel has the keyboard (where offers().panelPlace).
    virtual bool panelHasKeyboard() { return true; }
    // Whether Escape, or the helper's region shortcut, is free for other applications (where
    // offers().heldKeys); asking may take a stray binding away.
    virtual bool escapeFree() { return true; }
    virtual bool shortcutsFree() { return true; }
    // A window titled title at place (or full screen), as the desktop's window manager shows it.
    virtual std::unique_ptr<ShownWindow> showWindow(const QString& title, const QRect& place,
                                                    bool fullScreen = false) = 0;

    // X11 only: its server and a client of the test's on it, for what only X11 has (RandR changes,
    // grabs of other clients); null elsewhere.
    virtual PrivateDisplay* x11Display() { return nullptr; }
    virtual XClient* x11Client() { return nullptr; }

protected:
    explicit DesktopDriver(const DesktopSetup& setup) : setup_(setup) {}
    const DesktopSetup& setup_;
    DesktopOffers offers_;
    std::unique_ptr<TestInput> input_;
    std::vector<DesktopScreen> screens_;
    qint64 helperPid_ = 0;
};

} // namespace glimra::test
