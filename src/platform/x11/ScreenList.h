#pragma once
// Where the screens lie, in points and in root pixels: Qt's screens (their scales and points) matched
// by name with the RandR monitors (their pixels) where Qt shows on this X server; else the monitors
// alone, at scale 1.

#include "display/DisplayGeometry.h"

#include <QPointF>

#include <vector>

namespace glimra::x11 {

class XcbConnection;

class ScreenList {
public:
    // fromQt: Qt's application shows its windows on this X server (X11WindowServer::Options).
    ScreenList(XcbConnection& connection, bool fromQt);

    // All screens as the grabs see them, the primary first, each cut down to the root window.
    std::vector<ScreenGeometry> current();

private:
    struct Monitor {
        QString name;
        QRect native;
        bool primary = false;
    };
    std::vector<Monitor> monitors();

    XcbConnection& x_;
    bool fromQt_;
    bool randrMonitors_ = false; // RandR 1.5: the server lists monitors
};

} // namespace glimra::x11
