#include "x11/XConnection.h"

#include <QLoggingCategory>

#include <xcb/xcb.h>

Q_DECLARE_LOGGING_CATEGORY(lcHotKeys)

namespace glimra::x11 {

void Disconnect::operator()(xcb_connection_t* connection) const {
    xcb_disconnect(connection);
}

XConnection connectToDisplay(const QByteArray& displayName, const char* what, uint32_t* root) {
    int screenNumber = 0;
    XConnection connection(
        xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &screenNumber));
    if (xcb_connection_has_error(connection.get())) {
        qCWarning(lcHotKeys, "%s: cannot connect to the X display \"%s\"", what,
                  displayName.isEmpty() ? qgetenv("DISPLAY").constData() : displayName.constData());
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screenNumber && screens.rem > 1; ++i)
        xcb_screen_next(&screens);
    *root = screens.data->root;
    return connection;
}

} // namespace glimra::x11
