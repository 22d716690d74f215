#pragma once
// The window server's own xcb connection (Qt's is never touched) and what every part of it reads
// through it: the root window, its size, and window properties.

#include <QRect>
#include <QString>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

namespace glimra::x11 {

// Log lines of the window server and all its parts.
void logLine(const QString& text);
QString hexId(uint32_t id);

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
// xcb replies are malloc'd.
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

class XcbConnection {
public:
    // A connection to $DISPLAY and its default screen; nullptr (with a log line) when there is no
    // display to talk to.
    static std::unique_ptr<XcbConnection> open();
    ~XcbConnection();
    XcbConnection(const XcbConnection&) = delete;
    XcbConnection& operator=(const XcbConnection&) = delete;

    xcb_connection_t* get() const { return c_; }
    xcb_window_t root() const { return screen_->root; }
    const xcb_screen_t* screen() const { return screen_; }

    // Drops queued errors of requests nobody waited for; false (with a log line naming the operation)
    // when the connection is broken.
    bool ready(const char* operation);
    bool broken() const;

    // The root window's extent in its own pixels; empty when it cannot be read.
    QRect rootRect();

    // Window properties, requested first and read later so that many travel in one round trip.
    xcb_get_property_cookie_t requestProperty(xcb_window_t window, xcb_atom_t property, uint32_t longs = 1);
    Reply<xcb_get_property_reply_t> propertyReply(xcb_get_property_cookie_t cookie);
    // A 32-bit property's values; empty when it is missing or of another format.
    std::vector<uint32_t> values32(xcb_get_property_cookie_t cookie);
    std::optional<uint32_t> cardinal(xcb_get_property_cookie_t cookie);
    // An 8-bit property as text: Latin-1 for STRING, UTF-8 otherwise, trailing NULs dropped.
    QString text(xcb_get_property_cookie_t cookie);

private:
    XcbConnection(xcb_connection_t* c, const xcb_screen_t* screen);
    xcb_connection_t* c_;
    const xcb_screen_t* screen_;
};

} // namespace glimra::x11
