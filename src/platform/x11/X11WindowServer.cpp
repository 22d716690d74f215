#include "x11/X11WindowServer.h"

#include "x11/ScreenGrabber.h"
#include "x11/ScreenList.h"
#include "x11/XcbConnection.h"

#include <QGuiApplication>
#include <QScreen>

#include <xcb/composite.h>

#include <cstdlib>

namespace glimra::x11 {

// The parts hold references to those declared before them: the connection goes last.
struct X11WindowServer::Private {
    std::unique_ptr<XcbConnection> x;
    ScreenList screens;
    ScreenGrabber grabber;
    WindowList windows;
    bool composite = false; // windows' own pixmaps can be named (Composite 0.2)

    Private(std::unique_ptr<XcbConnection> connection, const Options& options)
        : x(std::move(connection)), screens(*x, options.screensFromQt), grabber(*x, options.useSharedMemory),
          windows(*x, screens) {
        xcb_connection_t* c = x->get();
        const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_composite_id);
        if (extension && extension->present) {
            Reply<xcb_composite_query_version_reply_t> v(
                xcb_composite_query_version_reply(c, xcb_composite_query_version(c, 0, 4), nullptr));
            composite = v && (v->major_version > 0 || v->minor_version >= 2);
        }
    }
};

X11WindowServer::X11WindowServer(std::unique_ptr<Private> p) : d(std::move(p)) {}
X11WindowServer::~X11WindowServer() = default;

std::unique_ptr<X11WindowServer> X11WindowServer::connect() {
    return connect(Options());
}

std::unique_ptr<X11WindowServer> X11WindowServer::connect(const Options& options) {
    std::unique_ptr<XcbConnection> connection = XcbConnection::open();
    if (!connection)
        return nullptr;
    Options chosen = options;
    chosen.useSharedMemory =
        options.useSharedMemory && qEnvironmentVariableIntValue("GLIMRA_X11_NO_SHM") == 0;
    return std::unique_ptr<X11WindowServer>(
        new X11WindowServer(std::make_unique<Private>(std::move(connection), chosen)));
}

QImage X11WindowServer::createImage(const QRectF& rect) {
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

QImage X11WindowServer::createImageOfScreen(const QScreen* screen) {
    const QRectF bounds = displayBounds(screen);
    return bounds.isEmpty() ? QImage() : createImage(bounds);
}

QImage X11WindowServer::createImageOfAllScreens() {
    if (!d->x->ready("An image of all screens"))
        return QImage();
    const QRectF box = boundingRectInPoints(d->screens.current());
    if (box.isEmpty()) {
        logLine(QStringLiteral("no image of all screens: there are no screens"));
        return QImage();
    }
    return createImage(box);
}

QImage X11WindowServer::createImageOfWindow(WindowNumber windowNumber) {
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

QImage X11WindowServer::createImageOfWindowContents(WindowNumber windowNumber) {
    if (!d->x->ready("The pixels of a window") || windowNumber == XCB_NONE || windowNumber == d->x->root())
        return QImage();
    const std::optional<WindowList::Shown> shown = d->windows.shown(windowNumber);
    return shown ? contentsOf(*shown) : QImage();
}

QImage X11WindowServer::contentsOf(const WindowList::Shown& shown) {
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

std::optional<std::vector<WindowInfo>> X11WindowServer::copyWindowInfo(bool onScreenOnly,
                                                                       bool excludeDesktopElements) {
    if (!d->x->ready("The window list"))
        return std::nullopt;
    return d->windows.read(onScreenOnly, excludeDesktopElements);
}

QRectF X11WindowServer::displayBounds(const QScreen* screen) const {
    if (!screen || !qGuiApp || !QGuiApplication::screens().contains(const_cast<QScreen*>(screen))) {
        logLine(QStringLiteral("no bounds for a screen the application does not know"));
        return QRectF();
    }
    return QRectF(screen->geometry()).translated(-globalDisplayOrigin());
}

std::vector<ScreenGeometry> X11WindowServer::screens() const {
    if (!d->x->ready("The screen list"))
        return {};
    return d->screens.current();
}

void X11WindowServer::grabRect(const QRectF& rect, ImageHandler done) {
    done(createImage(rect));
}

void X11WindowServer::grabScreen(const QScreen* screen, ImageHandler done) {
    done(createImageOfScreen(screen));
}

void X11WindowServer::grabDesktop(SnapshotHandler done) {
    QImage pixels = d->x->ready("A picture of the desktop") ? createImageOfWindow(d->x->root()) : QImage();
    if (pixels.isNull()) {
        done(nullptr);
        return;
    }
    const QRect native(QPoint(0, 0), pixels.size());
    done(std::make_shared<const DesktopSnapshot>(
        std::vector<DesktopSnapshot::Plane>{{native, std::move(pixels)}}, d->screens.current()));
}

bool X11WindowServer::usesSharedMemory() const {
    return d->grabber.usesSharedMemory();
}

void X11WindowServer::warmUp() {
    if (!d->x->ready("Preparing for grabs"))
        return;
    const std::vector<ScreenGeometry> screens = d->screens.current();
    if (const std::optional<GrabPlan> plan = planGrabOfPoints(boundingRectInPoints(screens), screens))
        d->grabber.warmUp(*plan);
}

void X11WindowServer::releaseBuffers() {
    d->grabber.releaseBuffers();
}

} // namespace glimra::x11
