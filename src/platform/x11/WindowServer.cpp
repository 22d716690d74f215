#include "x11/WindowServer.h"

#include "x11/ScreenGrabber.h"
#include "x11/ScreenList.h"
#include "x11/XcbConnection.h"

#include <QGuiApplication>
#include <QScreen>

namespace glimra::x11 {

// The parts hold references to those declared before them: the connection goes last.
struct WindowServer::Private {
    std::unique_ptr<XcbConnection> x;
    ScreenList screens;
    ScreenGrabber grabber;
    WindowList windows;

    Private(std::unique_ptr<XcbConnection> connection, bool useSharedMemory)
        : x(std::move(connection)), screens(*x), grabber(*x, useSharedMemory), windows(*x, screens) {}
};

WindowServer::WindowServer(std::unique_ptr<Private> p) : d(std::move(p)) {}
WindowServer::~WindowServer() = default;

std::unique_ptr<WindowServer> WindowServer::connect() {
    return connect(Options());
}

std::unique_ptr<WindowServer> WindowServer::connect(const Options& options) {
    std::unique_ptr<XcbConnection> connection = XcbConnection::open();
    if (!connection)
        return nullptr;
    const bool noShm = qEnvironmentVariableIntValue("GLIMRA_X11_NO_SHM") != 0;
    return std::unique_ptr<WindowServer>(new WindowServer(
        std::make_unique<Private>(std::move(connection), options.useSharedMemory && !noShm)));
}

QImage WindowServer::createImage(const QRectF& rect) {
    if (!d->x->ready("An image of a rectangle"))
        return QImage();
    QString whyNot;
    const std::optional<GrabPlan> plan = planGrabOfPoints(rect, d->screens.current(), &whyNot);
    if (!plan) {
        logLine(QStringLiteral("no image of the rectangle (%1, %2, %3 x %4): %5")
                    .arg(rect.x())
                    .arg(rect.y())
                    .arg(rect.width())
                    .arg(rect.height())
                    .arg(whyNot));
        return QImage();
    }
    return d->grabber.grab(*plan);
}

QImage WindowServer::createImageOfScreen(const QScreen* screen) {
    const QRectF bounds = displayBounds(screen);
    return bounds.isEmpty() ? QImage() : createImage(bounds);
}

QImage WindowServer::createImageOfAllScreens() {
    if (!d->x->ready("An image of all screens"))
        return QImage();
    const QRectF box = boundingRectInPoints(d->screens.current());
    if (box.isEmpty()) {
        logLine(QStringLiteral("no image of all screens: there are no screens"));
        return QImage();
    }
    return createImage(box);
}

QImage WindowServer::createImageOfWindow(uint32_t windowNumber) {
    if (!d->x->ready("An image of a window"))
        return QImage();
    if (windowNumber == XCB_NONE) {
        logLine(QStringLiteral("no image of window 0: there is no such window"));
        return QImage();
    }
    const std::optional<QRect> rect = d->windows.shownRect(windowNumber);
    if (!rect)
        return QImage();
    QString whyNot;
    const std::optional<GrabPlan> plan = planGrabOfNative(*rect, d->screens.current(), &whyNot);
    if (!plan) {
        logLine(QStringLiteral("no image of window %1: %2").arg(hexId(windowNumber), whyNot));
        return QImage();
    }
    return d->grabber.grab(*plan);
}

std::optional<std::vector<WindowInfo>> WindowServer::copyWindowInfo(bool onScreenOnly,
                                                                    bool excludeDesktopElements) {
    if (!d->x->ready("The window list"))
        return std::nullopt;
    return d->windows.read(onScreenOnly, excludeDesktopElements);
}

QRectF WindowServer::displayBounds(const QScreen* screen) const {
    if (!screen || !qGuiApp || !QGuiApplication::screens().contains(const_cast<QScreen*>(screen))) {
        logLine(QStringLiteral("no bounds for a screen the application does not know"));
        return QRectF();
    }
    return QRectF(screen->geometry()).translated(-globalDisplayOrigin());
}

std::vector<ScreenGeometry> WindowServer::screens() const {
    if (!d->x->ready("The screen list"))
        return {};
    return d->screens.current();
}

QPointF WindowServer::globalDisplayOrigin() {
    return x11::globalDisplayOrigin();
}

bool WindowServer::usesSharedMemory() const {
    return d->grabber.usesSharedMemory();
}

void WindowServer::warmUp() {
    if (!d->x->ready("Preparing for grabs"))
        return;
    const std::vector<ScreenGeometry> screens = d->screens.current();
    if (const std::optional<GrabPlan> plan = planGrabOfPoints(boundingRectInPoints(screens), screens))
        d->grabber.warmUp(*plan);
}

void WindowServer::releaseBuffers() {
    d->grabber.releaseBuffers();
}

} // namespace glimra::x11
