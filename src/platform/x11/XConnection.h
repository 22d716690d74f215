#pragma once
// What the hot keys and the mouse monitor share: an xcb connection of their own, and the ownership of
// the replies xcb hands out (Reply, XcbConnection.h).

#include "x11/XcbConnection.h"

#include <QByteArray>

#include <cstdint>
#include <memory>

namespace glimra::x11 {

struct Disconnect {
    void operator()(xcb_connection_t* connection) const;
};
using XConnection = std::unique_ptr<xcb_connection_t, Disconnect>;

// A connection to displayName ($DISPLAY when empty) and the root window of its screen; null, with the
// log line "<what>: cannot connect ...", when there is no display to talk to.
XConnection connectToDisplay(const QByteArray& displayName, const char* what, uint32_t* root);

} // namespace glimra::x11
