#include "x11/Compositor.h"

#include <QByteArray>

#include <cstdlib>
#include <cstring>
#include <string>

namespace glimra::x11 {

int displayScreenNumber() {
    // ":1.2" is screen 2 of display 1; without the dot the screen is 0.
    const QByteArray display = qgetenv("DISPLAY");
    const int dot = display.lastIndexOf('.');
    const int colon = display.lastIndexOf(':');
    return dot > colon ? display.mid(dot + 1).toInt() : 0;
}

bool selectionOwned(xcb_connection_t* c, const std::string& name) {
    if (!c || xcb_connection_has_error(c))
        return false;
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(name.size()), name.c_str()), nullptr);
    // Only-if-exists: an atom nobody ever made has no owner either.
    const xcb_atom_t selection = atom ? atom->atom : XCB_NONE;
    std::free(atom);
    if (selection == XCB_NONE)
        return false;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    std::free(owner);
    return owned;
}

bool compositingManagerRuns(xcb_connection_t* c, int screenNumber) {
    return selectionOwned(c, "_NET_WM_CM_S" + std::to_string(screenNumber));
}

} // namespace glimra::x11
