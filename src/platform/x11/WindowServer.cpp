#include "x11/WindowServer.h"

#include "x11/ScreenGrabber.h"
#include "x11/ScreenList.h"
#include "x11/XcbConnection.h"

#include <QGuiApplication>
#include <QScreen>

#include <xcb/composite.h>

#include <cstdlib>

namespace glimra::x11 {

// The parts hold references to those declared before them: the connection goes last.
struct WindowServer::Private {
    std::unique_ptr<XcbConnection> x;
    ScreenList screens;
    ScreenGrabber grabber;
    WindowList windows;
    bool composite = false; // windows' own pixmaps can be named (Composite 0.2)

    Private(std::unique_ptr<XcbConnection> connection, bool useSharedMemory)
        : x(std::move(connection)), screens(*x), grabber(*x, useSharedMemory), windows(*x, screens) {
        xcb_connection_t* c = x->get();
        const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_composite_id);
        if (extension && extension->present) {
            Reply<xcb_composite_query_version_reply_t> v(
                xcb_composite_query_version_reply(c, xcb_composite_query_version(c, 0, 4), nullptr));
            composite = v && (v->major_version > 0 || v->minor_version >= 2);
        }
    }
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
    const std::optional<WindowList::Shown> shown = d->windows.shown(windowNumber);
    if (!shown)
        return QImage();
    if (shown->window != d->x->root())
        if (QImage own = contentsOf(*shown); !own.isNull())
            return own;
    QString whyNot;
    const std::optional<GrabPlan> plan = planGrabOfNative(shown->rect, d->screens.current(), &whyNot);
    if (!plan) {
        logLine(QStringLiteral("no image of window %1: %2").arg(hexId(windowNumber), whyNot));
        return QImage();
    }
    return d->grabber.grab(*plan);
}

QImage WindowServer::createImageOfWindowContents(uint32_t windowNumber) {
    if (!d->x->ready("The pixels of a window") || windowNumber == XCB_NONE || windowNumber == d->x->root())
        return QImage();
    const std::optional<WindowList::Shown> shown = d->windows.shown(windowNumber);
    return shown ? contentsOf(*shown) : QImage();
}

QImage WindowServer::contentsOf(const WindowList::Shown& shown) {
    if (!d->composite)
        return QImage();
    xcb_connection_t* c = d->x->get();
    // Only a redirected window has a pixmap of its own to name; the others fail with BadMatch.
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_generic_error_t* error =
        xcb_request_check(c, xcb_composite_name_window_pixmap_checked(c, shown.window, pixmap));
    if (error) {
        std::free(error);
        return QImage();
    }
    QImage image = d->grabber.grabDrawable(pixmap, shown.rect.size());
    xcb_free_pixmap(c, pixmap);
    return image;
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

void WindowServer::grabRect(const QRectF& rect, ImageHandler done) {
    done(createImage(rect));
}

void WindowServer::grabScreen(const QScreen* screen, ImageHandler done) {
    done(createImageOfScreen(screen));
}

void WindowServer::grabDesktop(SnapshotHandler done) {
    QImage pixels = d->x->ready("A picture of the desktop") ? createImageOfWindow(d->x->root()) : QImage();
    if (pixels.isNull()) {
        done(nullptr);
        return;
    }
    const QRect native(QPoint(0, 0), pixels.size());
    done(std::make_shared<const DesktopSnapshot>(
        std::vector<DesktopSnapshot::Plane>{{native, std::move(pixels)}}, d->screens.current()));
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
