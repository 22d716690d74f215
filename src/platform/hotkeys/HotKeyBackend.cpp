#include "HotKeyBackend.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcHotKeys, "glimra.hotkeys")

namespace carbon {

NoHotKeys::NoHotKeys() {
    setObjectName(QStringLiteral("no hot keys"));
}

OSStatus NoHotKeys::add(Token, UInt32 keyCode, UInt32 modifiers, EventHotKeyID) {
    qCWarning(lcHotKeys, "Hot key: this desktop takes no hot keys from programs; %s stays off",
              qPrintable(glimra::hotkeys::describeHotKey(keyCode, modifiers, layout())));
    return eventInternalErr;
}

} // namespace carbon
