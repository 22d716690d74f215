#include "xpc/XpcApplication.h"

#include "Log.h"
#include "xpc/XpcBus.h"
#include "xpc/XpcServiceConnection.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstring>

namespace xpc {
namespace {

const char* const kApplication = "org.freedesktop.Application";

// The object's own interfaces, as introspection shows them.
const char* const kInterfaces = R"(  <interface name="org.freedesktop.Application">
    <method name="Activate">
      <arg name="platform_data" type="a{sv}" direction="in"/>
    </method>
    <method name="Open">
      <arg name="uris" type="as" direction="in"/>
      <arg name="hint" type="s" direction="in"/>
      <arg name="platform_data" type="a{sv}" direction="in"/>
    </method>
    <method name="ActivateAction">
      <arg name="action_name" type="s" direction="in"/>
      <arg name="parameter" type="av" direction="in"/>
      <arg name="platform_data" type="a{sv}" direction="in"/>
    </method>
  </interface>
)";

bool is(const char* a, const char* b) {
    return a && b && std::strcmp(a, b) == 0;
}

void answer(DBusMessage* call, ServiceConnection& bus) {
    if (dbus_message_get_no_reply(call))
        return;
    MessagePtr reply(dbus_message_new_method_return(call));
    bus.send(reply.get());
}

void fail(DBusMessage* call, ServiceConnection& bus, const char* name, const QString& text) {
    NSLog("%@", text);
    if (dbus_message_get_no_reply(call))
        return;
    MessagePtr reply(dbus_message_new_error(call, name, text.toUtf8().constData()));
    bus.send(reply.get());
}

// The elements of the array the iterator points at, as strings (an array of strings only).
QStringList strings(DBusMessageIter* array) {
    QStringList result;
    DBusMessageIter item;
    dbus_message_iter_recurse(array, &item);
    while (dbus_message_iter_get_arg_type(&item) == DBUS_TYPE_STRING) {
        const char* s = nullptr;
        dbus_message_iter_get_basic(&item, &s);
        result.append(QString::fromUtf8(s));
        dbus_message_iter_next(&item);
    }
    return result;
}

} // namespace

void xpc_listener_set_application_actions(ApplicationActions actions) {
    bus::run([&](BusAgent& agent) { agent.setApplicationActions(std::move(actions)); });
}

bool ApplicationObject::handle(DBusMessage* call, ServiceConnection& bus) const {
    if (dbus_message_get_type(call) != DBUS_MESSAGE_TYPE_METHOD_CALL ||
        !is(dbus_message_get_path(call), actions_.path.c_str()))
        return false;
    const char* interface = dbus_message_get_interface(call);
    const char* member = dbus_message_get_member(call);
    if (dbus_message_is_method_call(call, DBUS_INTERFACE_INTROSPECTABLE, "Introspect")) {
        MessagePtr reply = makeIntrospection(call, kInterfaces);
        bus.send(reply.get());
        return true;
    }
    if (interface && !is(interface, kApplication))
        return false; // libdbus answers with UnknownMethod
    const char* expected = is(member, "ActivateAction") ? "sava{sv}"
                           : is(member, "Activate")     ? "a{sv}"
                           : is(member, "Open")         ? "assa{sv}"
                                                        : nullptr;
    if (!expected) {
        fail(
            call, bus, DBUS_ERROR_UNKNOWN_METHOD,
            QStringLiteral("No method %1 in %2").arg(QString::fromUtf8(member), QLatin1String(kApplication)));
        return true;
    }
    if (!dbus_message_has_signature(call, expected)) {
        fail(call, bus, DBUS_ERROR_INVALID_ARGS,
             QStringLiteral("%1 takes (%2), not (%3)")
                 .arg(QString::fromUtf8(member), QLatin1String(expected),
                      QString::fromUtf8(dbus_message_get_signature(call))));
        return true;
    }
    if (is(member, "ActivateAction")) {
        activateAction(call, bus);
    } else if (is(member, "Open")) {
        open(call, bus);
    } else {
        answer(call, bus);
        if (actions_.activate)
            dispatch::dispatch_async(actions_.queue, actions_.activate);
    }
    return true;
}

void ApplicationObject::activateAction(DBusMessage* call, ServiceConnection& bus) const {
    DBusMessageIter args;
    dbus_message_iter_init(call, &args);
    const char* name = nullptr;
    dbus_message_iter_get_basic(&args, &name);
    dbus_message_iter_next(&args);
    DBusMessageIter parameter;
    dbus_message_iter_recurse(&args, &parameter);
    const bool hasParameter = dbus_message_iter_get_arg_type(&parameter) != DBUS_TYPE_INVALID;
    const std::string action(name);
    // The name is the caller's: neither its length nor its characters make it into the log as they came.
    const QString quoted = QStringLiteral("\"%1\"").arg(glimra::printable(QString::fromStdString(action)));
    if (std::find(actions_.names.begin(), actions_.names.end(), action) == actions_.names.end()) {
        fail(call, bus, DBUS_ERROR_INVALID_ARGS, QStringLiteral("No action named %1").arg(quoted));
        return;
    }
    if (hasParameter) {
        fail(call, bus, DBUS_ERROR_INVALID_ARGS,
             QStringLiteral("The action %1 takes no parameter").arg(quoted));
        return;
    }
    answer(call, bus);
    if (actions_.activateAction)
        dispatch::dispatch_async(actions_.queue,
                                 [handler = actions_.activateAction, action] { handler(action); });
}

void ApplicationObject::open(DBusMessage* call, ServiceConnection& bus) const {
    DBusMessageIter args;
    dbus_message_iter_init(call, &args);
    const QStringList uris = strings(&args);
    // Nothing is opened by name: a caller that asks for files hears so rather than believing it done.
    if (!uris.isEmpty()) {
        fail(call, bus, DBUS_ERROR_NOT_SUPPORTED,
             QStringLiteral("Opening files is not supported: %1")
                 .arg(glimra::printable(uris.join(QLatin1String(", ")))));
        return;
    }
    answer(call, bus);
    if (actions_.activate)
        dispatch::dispatch_async(actions_.queue, actions_.activate);
}

} // namespace xpc
