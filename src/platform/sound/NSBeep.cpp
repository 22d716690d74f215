#include "sound/NSBeep.h"

#include <QApplication>

namespace glimra {

void NSBeep() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QApplication::beep();
}

} // namespace glimra
