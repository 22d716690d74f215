#include "display/WindowServer.h"

#include <QGuiApplication>
#include <QScreen>

namespace glimra {

QPointF WindowServer::globalDisplayOrigin() {
    const QScreen* primary = qGuiApp ? QGuiApplication::primaryScreen() : nullptr;
    return primary ? QPointF(primary->geometry().topLeft()) : QPointF();
}

} // namespace glimra
