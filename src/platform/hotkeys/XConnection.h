#pragma once
// What the hot-key center and the mouse monitor share: an xcb connection of their own, and the
// ownership of the replies xcb hands out.

#include <QByteArray>

#include <cstdint>
#include <cstdlib>
#include <memory>

struct xcb_connection_t;

namespace carbon::detail {

struct FreeMalloced {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using MallocPtr = std::unique_ptr<T, FreeMalloced>;

struct Disconnect {
    void operator()(xcb_connection_t* connection) const;
};
using XConnection = std::unique_ptr<xcb_connection_t, Disconnect>;

// A connection to displayName ($DISPLAY when empty) and the root window of its screen; null, with the
// log line "<what>: cannot connect ...", when there is no display to talk to.
XConnection connectToDisplay(const QByteArray& displayName, const char* what, uint32_t* root);

} // namespace carbon::detail
