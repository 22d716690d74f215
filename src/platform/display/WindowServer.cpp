#include "display/WindowServer.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace glimra {

QPointF WindowServer::globalDisplayOrigin() {
    const QScreen* primary = qGuiApp ? QGuiApplication::primaryScreen() : nullptr;
    return primary ? QPointF(primary->geometry().topLeft()) : QPointF();
}

std::vector<ScreenGeometry> WindowServer::qtScreens(
    const std::function<QRect(const QString& name, const QRect& logical, qreal scale)>& nativeOf) {
    std::vector<ScreenGeometry> out;
    if (!qGuiApp)
        return out;
    const QPointF origin = globalDisplayOrigin();
    const QScreen* primary = QGuiApplication::primaryScreen();
    for (const QScreen* s : QGuiApplication::screens()) {
        const QRect logical = s->geometry();
        const qreal scale = s->devicePixelRatio();
        out.push_back({s->name(), QRectF(logical).translated(-origin), nativeOf(s->name(), logical, scale),
                       scale, s == primary});
    }
    std::stable_partition(out.begin(), out.end(), [](const ScreenGeometry& g) { return g.primary; });
    return out;
}

} // namespace glimra
