#pragma once
// Where the screens lie, in points and in root pixels: Qt's screens (their scales and points) matched
// by name with the RandR monitors (their pixels); without Qt on X11 the monitors alone, at scale 1.

#include "display/DisplayGeometry.h"

#include <QPointF>

#include <vector>

namespace glimra::x11 {

class XcbConnection;

class ScreenList {
public:
    explicit ScreenList(XcbConnection& connection);

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
    bool randrMonitors_ = false; // RandR 1.5: the server lists monitors
};

} // namespace glimra::x11
