#include "sound/NSBeep.h"

#include "sound/NSSound.h"

#include <QApplication>

namespace glimra {

void NSBeep() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    // Qt rings the X bell; a Wayland client has none, and plays the desktop's alert sound instead.
    if (qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
        QApplication::beep();
    else
        NSSound::playAlert();
}

} // namespace glimra
