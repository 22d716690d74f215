#pragma once
// org.freedesktop.Application, the desktop-entry convention for D-Bus activatable programs, served on
// the listener's own bus connection: desktops, launchers and `gapplication action ID NAME` reach the
// program by its service name, and the bus starts it for a call when it does not run. Being served by
// the connection that claims the name, the object answers the call the bus queued while it started
// the program as soon as the name is owned.

#include "dispatch/Dispatch.h"

#include <dbus/dbus.h>

#include <functional>
#include <string>
#include <vector>

namespace xpc {

class ServiceConnection;

struct ApplicationActions {
    std::string path;               // the object path, "/app/glimra/GlimraHelper" for that name
    std::vector<std::string> names; // the actions, none of which takes a parameter
    dispatch::QueuePtr queue;       // where the two handlers run
    std::function<void(const std::string& name)> activateAction; // a known name, its call answered
    std::function<void()> activate;
};

// Linux: serves actions beside /xpc on the bus connection of the listener created next (or already
// running); set before creating the listener, it answers from the moment the name is claimed.
void xpc_listener_set_application_actions(ApplicationActions actions);

// The bus side: answers the calls on its path, on the bus thread.
class ApplicationObject {
public:
    explicit ApplicationObject(ApplicationActions actions) : actions_(std::move(actions)) {}
    // False for a message that is not a call on this object's path.
    bool handle(DBusMessage* call, ServiceConnection& bus) const;

private:
    void activateAction(DBusMessage* call, ServiceConnection& bus) const;
    void open(DBusMessage* call, ServiceConnection& bus) const;

    ApplicationActions actions_;
};

} // namespace xpc
