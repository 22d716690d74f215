#pragma once
// What integration tests observe and do on an X server of their choice: windows whose pixels are
// known, the windows mapped and the screen's pixels, keys and the pointer through XTest, passive
// grabs, and the bell through XKB.

#include "TestInput.h"
#include "TestSupport.h"

#include <QImage>
#include <QRect>
#include <QRegion>

#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <vector>

struct _XCBKeySymbols;

namespace glimra::test {

// A pixel value that differs between neighbours in every direction, so offsets, strides and flips
// all show.
inline uint32_t patternPixel(int x, int y) {
    return (uint32_t((x * 7 + y * 13) & 0xff) << 16) | (uint32_t((x ^ y) & 0xff) << 8) |
           uint32_t((x * 3 + y * 5 + 1) & 0xff);
}
// A picture of patternPixel values.
QImage patternImage(QSize size);
// A busy, non-repeating picture of size: gradients, noise and lines, like real screen content.
QImage testPattern(QSize size, int variant);

// Whether image inside rect shows patternPixel values from origin on (at rect's corner), or one
// colour; else where it first differs and how many pixels do.
::testing::AssertionResult showsPattern(const QImage& image, const QRect& rect, QPoint origin = {});
::testing::AssertionResult showsColour(const QImage& image, const QRect& rect, uint32_t colour);
// Whether image shows expected (of the same size) everywhere outside ignored, each colour channel
// within tolerance (compositing managers round their blending differently); else where it first
// differs and how many pixels do.
::testing::AssertionResult showsNear(const QImage& image, const QImage& expected, const QRegion& ignored = {},
                                     int tolerance = 3);
// Mean difference per colour channel, 0 to 255; images of different sizes differ completely.
double difference(const QImage& a, const QImage& b);
// The desktop as the crosshair overlay dims it: 0.33 grey at 0.65 opacity over every pixel.
QImage dimmedByTheOverlay(const QImage& desktop);

// One connection to the display named name (DISPLAY when empty), also the X11 session's TestInput.
class XClient final : public TestInput {
public:
    explicit XClient(const QString& name = QString());
    ~XClient() override;
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    bool ok() const override { return root_ != 0; }
    xcb_connection_t* connection() const { return c_; }
    xcb_window_t root() const { return root_; }
    // Waits until every request so far has been carried out by the server.
    void sync();

    // ---- Windows ----
    struct WindowSpec {
        QRect rect;
        uint32_t colour = 0x000000;
        bool pattern = false; // the background is patternPixel(x, y) from the window's corner
        bool overrideRedirect = true;
        bool inputOnly = false;
        QImage image = QImage(); // when set, the background
    };
    xcb_window_t create(const WindowSpec& request);
    // An override-redirect window at (0, 0) showing image, mapped above everything else.
    xcb_window_t cover(const QImage& image);
    // image as the root window's background, set as xsetroot and ImageMagick's `display -window root`
    // set it: _XSETROOT_ID names a 1 x 1 pixmap of depth 1 that keeps nothing, which picom and xcompmgr
    // take for the background's picture and cannot paint, so beneath translucent windows they show
    // whatever they last painted there.
    void setRootPicture(const QImage& image);
    xcb_window_t map(xcb_window_t w); // w, mapped
    void destroy(xcb_window_t w);
    void raise(xcb_window_t w);
    // Gives w the keyboard, as a click on another application's window does.
    void focus(xcb_window_t w);

    xcb_atom_t atom(const char* name);
    void setCardinals(xcb_window_t w, const char* property, std::initializer_list<uint32_t> values);
    void setAtoms(xcb_window_t w, const char* property, std::initializer_list<const char*> values);
    void setString(xcb_window_t w, const char* property, const char* type, const std::string& value);
    QByteArray property(xcb_window_t w, const char* name);
    // The first 32-bit value of a property (a window, a number), 0 without one.
    uint32_t property32(xcb_window_t w, const char* name);
    // A client message to the root, as pagers and taskbars send them to the window manager.
    void sendToWindowManager(xcb_window_t w, const char* message, std::initializer_list<uint32_t> data);
    xcb_window_t selectionOwner(const char* selection);
    std::vector<xcb_window_t> children(xcb_window_t w); // bottom to top
    bool viewable(xcb_window_t w);
    xcb_window_t inputFocus();
    // Where a window lies on the root, in root pixels (empty when it is gone).
    QRect rootGeometry(xcb_window_t w);
    // The outer frame a window manager drew around w (w's own rectangle without one), root pixels.
    QRect frameRect(xcb_window_t w);
    // The bounding box of what shows of w (X Shape), in w's own pixels: all of w when it is not shaped.
    QRect shownPart(xcb_window_t w);
    // The pixels in rect of window w (its own pixels; the root's by default) as the screen shows them
    // now, wherever w is: null while part of the rectangle is off the screen.
    QImage pixels(const QRect& rect, xcb_window_t w = XCB_NONE);
    // Starts recording the windows mapped on the root (override-redirect ones and window-manager frames).
    void watchMaps();
    // Every window mapped since, oldest first.
    const std::vector<xcb_window_t>& mapped();
    // Whether a window of this connection that selected button presses received one, waiting up to
    // timeoutMs.
    bool waitForButtonPress(int timeoutMs);

    // ---- Keys and pointer through XTest ----
    xcb_keycode_t keycode(xcb_keysym_t keysym);
    void pressCode(xcb_keycode_t code, bool press);
    void key(uint32_t keysym, bool press) override { pressCode(keycode(keysym), press); }
    void keyCode(uint32_t evdevCode, bool press) override { pressCode(xcb_keycode_t(evdevCode + 8), press); }
    // The modifier bit Num_Lock sits on in the server's modifier map.
    uint16_t numLockMask();

    // The pointer through XTest, as a real mouse moves it.
    void motion(int x, int y) override;
    void button(uint8_t number, bool press) override;
    void pointer(uint8_t type, uint8_t button, int x = 0, int y = 0);
    // An active pointer grab, as a menu or a window manager's drag holds one.
    bool grabPointer();

    // ---- Passive key grabs of this client ----
    bool grab(xcb_keycode_t code, uint16_t modifiers);
    // Whether this client could grab the combination, i.e. nobody else holds it; the grab is let go.
    bool canGrab(xcb_keycode_t code, uint16_t modifiers);

    // ---- The bell ----
    // Starts counting XKB bell notifications of every client of the display.
    bool watchBells();
    // Bells rung so far (and the windows mapped, button presses seen, when those are watched).
    int bells();
    // Bells rung so far, after waiting until there are at least `atLeast` (or timeout) and then for
    // `settle` more, so that a bell too many has the time to show.
    int bells(int atLeast, std::chrono::milliseconds timeout, std::chrono::milliseconds settle);

private:
    void fake(uint8_t type, uint8_t detail, int x = 0, int y = 0);
    xcb_pixmap_t pixmapOf(const QImage& image);

    xcb_connection_t* c_;
    xcb_window_t root_ = 0;
    uint8_t depth_ = 24;
    _XCBKeySymbols* symbols_ = nullptr;
    int xkbEvent_ = -1;
    int bells_ = 0;
    std::vector<xcb_window_t> mapped_;
    bool buttonPressed_ = false;
};

// The keyboard layout of the X server (setxkbmap) while it lives; the US layout comes back afterwards.
class XkbLayout {
public:
    explicit XkbLayout(const KeyboardLayoutName& name);
    ~XkbLayout();
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

// Fast key repeat while it lives, so a held key would repeat many times if repeats got through; the
// X server's default rate (660 ms, 25 per second) comes back afterwards.
class FastKeyRepeat {
public:
    FastKeyRepeat() { QProcess::execute(QStringLiteral("xset"), {"r", "rate", "100", "40"}); }
    ~FastKeyRepeat() { QProcess::execute(QStringLiteral("xset"), {"r", "rate", "660", "25"}); }
};

} // namespace glimra::test
