#pragma once
// The dictionary encoding of XpcWire.h as libdbus reads and writes it, for the listener's own
// connection.

#include "xpc/XpcObjects.h"

#include <QVariantMap>

#include <dbus/dbus.h>

namespace xpc::wire {

// Reads the a{sv} at iter into dictionary, by the rules of decode(): values of other types and data
// over the limit or in any descriptor but a sealed memfd are dropped with one log line.
void read(DBusMessageIter* iter, Dictionary& dictionary);
// Appends map, as encode() made it, as an a{sv}; false when it could not be built.
bool append(DBusMessageIter* iter, const QVariantMap& map);

} // namespace xpc::wire
