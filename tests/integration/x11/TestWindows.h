#pragma once
// Test windows whose pixels are known exactly: the X server paints each from its background (a
// solid colour or a pattern pixmap), so nothing depends on a toolkit's drawing or timing.

#include <QImage>
#include <QRect>
#include <QString>

#include <xcb/xcb.h>

#include <functional>
#include <memory>
#include <string>

namespace x11test {

// A pixel value that differs between neighbours in every direction, so offsets, strides and flips
// all show.
inline uint32_t patternPixel(int x, int y) {
    return (uint32_t((x * 7 + y * 13) & 0xff) << 16) | (uint32_t((x ^ y) & 0xff) << 8) |
           uint32_t((x * 3 + y * 5 + 1) & 0xff);
}

class TestDisplay {
public:
    TestDisplay();
    ~TestDisplay();

    xcb_connection_t* connection() const { return c_; }
    xcb_window_t root() const { return root_; }

    struct WindowSpec {
        QRect rect;
        uint32_t colour = 0x000000;
        bool pattern = false; // the background is patternPixel(x, y) from the window's corner
        bool overrideRedirect = true;
        bool inputOnly = false;
    };
    xcb_window_t create(const WindowSpec& request);
    void map(xcb_window_t w);
    void unmap(xcb_window_t w);
    void destroy(xcb_window_t w);
    void raise(xcb_window_t w);
    void setColour(xcb_window_t w, uint32_t colour);

    xcb_atom_t atom(const char* name);
    void setCardinal(xcb_window_t w, const char* property, uint32_t value);
    void setAtoms(xcb_window_t w, const char* property, std::initializer_list<const char*> values);
    void setString(xcb_window_t w, const char* property, const char* type, const std::string& value);
    // A client message to the root, as pagers and taskbars send them to the window manager.
    void sendToWindowManager(xcb_window_t w, const char* message, std::initializer_list<uint32_t> data);

    // Whether a window of this connection that selected button presses received one, waiting up to
    // timeoutMs.
    bool waitForButtonPress(int timeoutMs);

    // Waits until every request so far has been carried out by the server.
    void sync();
    bool viewable(xcb_window_t w);
    // The outer frame a window manager drew around w (w's own rectangle without one), root pixels.
    QRect frameRect(xcb_window_t w);

private:
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = 0;
    uint8_t depth_ = 24;
};

// Polls cond (with the Qt event loop running) for up to timeoutMs.
bool waitUntil(const std::function<bool()>& cond, int timeoutMs = 5000);

// Pixels of image inside imageRect that differ from expected(x, y) (x, y relative to imageRect),
// with the first difference described in *first.
int countMismatches(const QImage& image, const QRect& imageRect,
                    const std::function<uint32_t(int, int)>& expected, QString* first = nullptr);

} // namespace x11test
