#include "ScreensnapManager.h"

#include "Bundle.h"
#include "ImageCaptureCrosshairWindowController.h"
#include "ScreenCoordinates.h"

#include <QCursor>
#include <QDateTime>
#include <QGuiApplication>
#include <QLocale>
#include <QScreen>

using glimra::x11::WindowInfo;

namespace {

glimra::ScreenSpace currentScreenSpace() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    return {primary ? QRectF(primary->geometry()) : QRectF()};
}

} // namespace

QString shortDateTimeString() {
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    return locale.toString(now.date(), QLocale::ShortFormat) + u' ' +
           locale.toString(now.time(), QLocale::ShortFormat);
}

ScreensnapManager& ScreensnapManager::sharedManager() {
    static ScreensnapManager manager;
    return manager;
}

ScreensnapManager::ScreensnapManager()
    : crosshairWindowController_(std::make_unique<ImageCaptureCrosshairWindowController>()) {}

ScreensnapManager::~ScreensnapManager() = default;

void ScreensnapManager::setCrosshairWindowController(
    std::unique_ptr<ImageCaptureCrosshairWindowController> c) {
    crosshairWindowController_ = std::move(c);
}

bool ScreensnapManager::canSnapPreviousArea() const {
    return !isSnapping() && crosshairWindowController_->canSnapPreviousArea();
}

glimra::x11::WindowServer* ScreensnapManager::windowServer() {
    if (!windowServer_ && !triedWindowServer_) {
        triedWindowServer_ = true;
        windowServer_ = glimra::x11::WindowServer::connect();
    }
    return windowServer_.get();
}

void ScreensnapManager::warmUp() {
    if (auto* server = windowServer())
        server->warmUp();
}

std::optional<WindowInfo> ScreensnapManager::windowInformationForLocation(QPointF point,
                                                                          uint32_t ignoringWindowNumber) {
    const QScreen* mainScreen = QGuiApplication::primaryScreen();
    const double h = mainScreen ? mainScreen->geometry().height() : 0.0;
    const QPointF p = glimra::displayPointFromScreenPoint(point, h);
    auto* server = windowServer();
    if (!server)
        return std::nullopt;
    const auto windows = server->copyWindowInfo(true, true);
    if (!windows)
        return std::nullopt;
    for (const WindowInfo& window : *windows) {
        if (!(window.alpha > 0.0f))
            continue;
        if (!glimra::displayRectContainsPoint(window.bounds, p))
            continue;
        if (window.number == ignoringWindowNumber)
            continue;
        // Docks and panels play the system Dock: a capture looks through them.
        if (window.kind == WindowInfo::Kind::Dock)
            continue;
        return window;
    }
    return std::nullopt;
}

QImage ScreensnapManager::createCGImageOfRect(const QRectF& rect) {
    auto* server = windowServer();
    return server ? server->createImage(rect) : QImage();
}

QImage ScreensnapManager::createCGImageOfScreen(const QScreen* screen) {
    auto* server = windowServer();
    return server && screen ? server->createImageOfScreen(screen) : QImage();
}

QImage ScreensnapManager::createCGImageOfAllScreens() {
    auto* server = windowServer();
    return server ? server->createImageOfAllScreens() : QImage();
}

QImage ScreensnapManager::createCGImageOfWindow(uint32_t windowNumber) {
    auto* server = windowServer();
    return server ? server->createImageOfWindow(windowNumber) : QImage();
}

QScreen* ScreensnapManager::screenContainingMouse() const {
    const glimra::ScreenSpace space = currentScreenSpace();
    const QPointF p = space.screenPointFromQt(QCursor::pos());
    for (QScreen* screen : QGuiApplication::screens()) {
        if (glimra::screenFrameContainsPoint(space.screenFrameFromQt(screen->geometry()), p))
            return screen;
    }
    return QGuiApplication::primaryScreen();
}

void ScreensnapManager::performCrosshairSnapshotWithCompletionBlock(ScreensnapCompletionBlock block) {
    setSnapping(true);
    crosshairWindowController_->beginCaptureWithCompletionHandler(std::move(block));
}

void ScreensnapManager::performTimedCrosshairSnapshotWithCompletionBlock(ScreensnapCompletionBlock block) {
    setSnapping(true);
    crosshairWindowController_->beginTimedCaptureWithCompletionHandler(std::move(block));
}

void ScreensnapManager::performCrosshairSnapshotOfPreviousAreaWithCompletionBlock(
    ScreensnapCompletionBlock block) {
    setSnapping(true);
    crosshairWindowController_->beginCapturePreviousAreaWithCompletionHandler(std::move(block));
}

void ScreensnapManager::performFullScreenSnapshotWithCompletionBlock(const ScreensnapCompletionBlock& block) {
    setSnapping(true);
    const QString title = glimra::Bundle::mainBundle().localizedStringWithFormat(
        QT_TRANSLATE_NOOP("Localizable", "Fullscreen %@"), shortDateTimeString());
    const QScreen* screen = screenContainingMouse();
    const double scale = screen ? screen->devicePixelRatio() : 1.0;
    const QImage image = createCGImageOfScreen(screen);
    if (block) {
        if (!image.isNull())
            block(true, image, scale > 1.0, title, nullptr);
        else
            block(false, QImage(), false, std::nullopt, nullptr);
    }
    setSnapping(false);
}
