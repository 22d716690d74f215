#pragma once
// Names of the XPC binding on the bus, as QtDBus spells them.

#include "xpc/Xpc.h"

#include <QString>

namespace xpc::names {

inline const QString kPath = QStringLiteral("/xpc");
inline const QString kListener = QStringLiteral("app.glimra.xpc.Listener");
inline const QString kPeer = QStringLiteral("app.glimra.xpc.Peer");
inline const QString kInvalid = QString::fromLatin1(XPC_DBUS_ERROR_CONNECTION_INVALID);
inline const QString kInterrupted = QString::fromLatin1(XPC_DBUS_ERROR_CONNECTION_INTERRUPTED);

} // namespace xpc::names
