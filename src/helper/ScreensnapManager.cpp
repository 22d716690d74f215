#include "ScreensnapManager.h"

#include "Bundle.h"
#include "Desktop.h"
#include "ImageCaptureCrosshairOverlayWindow.h"
#include "ImageCaptureCrosshairWindowController.h"
#include "Log.h"
#include "Preferences_Mac.h"
#include "ScreenCoordinates.h"
#include "UserDefaults.h"
#include "cursor/NSCursor.h"
#include "sound/NSBeep.h"
#include "sound/NSSound.h"
#include "ui/NamedImage.h"

#include <QCursor>
#include <QDateTime>
#include <QGuiApplication>
#include <QLocale>
#include <QScreen>
#include <QThread>

#include <algorithm>
#include <chrono>

using glimra::WindowInfo;

namespace {

glimra::ScreenSpace currentScreenSpace() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    return {primary ? QRectF(primary->geometry()) : QRectF()};
}

QString imagesDirectory() {
    return glimra::Bundle::mainBundle().resourcePath() + QStringLiteral("/images");
}

// The sharpest scale among the screens: an image for it is drawn crisp on every screen.
qreal highestDevicePixelRatio() {
    qreal ratio = 1;
    for (const QScreen* screen : QGuiApplication::screens())
        ratio = std::max(ratio, screen->devicePixelRatio());
    return ratio;
}

bool isGuiApplication() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
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

ScreensnapManager::ScreensnapManager() {
    if (QCoreApplication::instance() && QThread::currentThread() != QCoreApplication::instance()->thread())
        NSLog("The snapshot manager was made off the main thread; its captures still run on the main thread");
    crosshairWindowController_ = std::make_unique<ImageCaptureCrosshairWindowController>(crosshairServices());
}

ScreensnapManager::~ScreensnapManager() = default;

void ScreensnapManager::setCrosshairWindowController(
    std::unique_ptr<ImageCaptureCrosshairWindowController> c) {
    crosshairWindowController_ = std::move(c);
}

ImageCaptureCrosshairWindowController::Services ScreensnapManager::crosshairServices() {
    ImageCaptureCrosshairWindowController::Services services;
    // Without a screen to show it on there is no overlay: an interactive capture then ends as cancelled.
    services.makeOverlayWindow = [this]() -> std::unique_ptr<OverlayWindow> {
        glimra::OverlayDesktop* desktop = overlayDesktop();
        if (!desktop)
            return nullptr;
        if (desktop->screens().empty()) {
            NSLog("The overlay has no screen to show on");
            return nullptr;
        }
        return std::make_unique<ImageCaptureCrosshairOverlayWindow>(*desktop, imagesDirectory());
    };
    services.hideCursor = [] { glimra::NSCursor::hide(); };
    services.unhideCursor = [] { glimra::NSCursor::unhide(); };
    services.beep = [] { glimra::NSBeep(); };
    services.createCGImageOfRect = [this](const CGRect& r, std::function<void(QImage)> done) {
        createCGImageOfRect(QRectF(r.origin.x, r.origin.y, r.size.width, r.size.height), std::move(done));
    };
    services.isApplicationActive = [] {
        return !isGuiApplication() || QGuiApplication::applicationState() == Qt::ApplicationActive;
    };
    services.now = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    };
    services.countdownImage = [](long seconds) {
        return glimra::loadNamedImageForScale(imagesDirectory(), QStringLiteral("countdown_%1").arg(seconds),
                                              highestDevicePixelRatio());
    };
    services.playCountdownTick = [sound = glimra::NSSound::soundNamed(QStringLiteral("pre-snap-countdown"))] {
        if (!sound)
            return;
        if (sound->isPlaying())
            sound->stop();
        sound->play();
    };
    services.cropHandleWidth = [] {
        const QImage handle =
            glimra::loadNamedImageForScale(imagesDirectory(), QStringLiteral("capture_blue_handle"), 1);
        return handle.isNull() ? 0.0 : handle.width() / handle.devicePixelRatio();
    };
    services.view.windowInformationForLocation =
        [this](CGPoint p, const std::function<bool(glimra::WindowNumber)>& ignores,
               const std::optional<std::vector<WindowInfo>>& windows) {
            return windowInformationForLocation(QPointF(p.x, p.y), ignores, windows);
        };
    services.view.createCGImageOfWindow = [this](glimra::WindowNumber windowNumber) {
        return createCGImageOfWindow(windowNumber);
    };
    services.view.isOptionKeyDown = [] {
        return isGuiApplication() && (QGuiApplication::queryKeyboardModifiers() & Qt::AltModifier);
    };
    services.view.timedSnapDelaySeconds = [] {
        return glimra::UserDefaults::standardUserDefaults().integerForKey(
            QString::fromLatin1(kTimedScreenSnapDelaySecondsPrefsKey));
    };
    services.view.screenFrames = [] {
        const glimra::ScreenSpace space = currentScreenSpace();
        std::vector<CGRect> frames;
        // Qt lists the primary screen first.
        for (const QScreen* screen : QGuiApplication::screens()) {
            const QRectF f = space.screenFrameFromQt(screen->geometry());
            frames.push_back(NSMakeRect(f.x(), f.y(), f.width(), f.height()));
        }
        return frames;
    };
    services.view.performFullScreenSnapshot = [this](const ScreensnapCompletionBlock& block) {
        performFullScreenSnapshotWithCompletionBlock(block);
    };
    return services;
}

bool ScreensnapManager::canSnapPreviousArea() const {
    return !isSnapping() && crosshairWindowController_->canSnapPreviousArea();
}

glimra::WindowServer* ScreensnapManager::windowServer() {
    if (!windowServer_ && !triedWindowServer_) {
        triedWindowServer_ = true;
        windowServer_ = glimra::Desktop::current().makeWindowServer();
    }
    return windowServer_.get();
}

glimra::OverlayDesktop* ScreensnapManager::overlayDesktop() {
    if (!overlayDesktop_ && !triedOverlayDesktop_) {
        triedOverlayDesktop_ = true;
        if (auto* server = windowServer())
            overlayDesktop_ = glimra::Desktop::current().makeOverlayDesktop(*server);
    }
    return overlayDesktop_.get();
}

void ScreensnapManager::warmUp() {
    if (auto* server = windowServer())
        server->warmUp();
    crosshairWindowController_->prepareResizeController();
}

void ScreensnapManager::releaseBuffers() {
    if (windowServer_)
        windowServer_->releaseBuffers();
}

std::optional<WindowInfo>
ScreensnapManager::windowInformationForLocation(QPointF point, glimra::WindowNumber ignoringWindowNumber) {
    return windowInformationForLocation(point, [ignoringWindowNumber](glimra::WindowNumber number) {
        return number == ignoringWindowNumber;
    });
}

std::optional<WindowInfo>
ScreensnapManager::windowInformationForLocation(QPointF point,
                                                const std::function<bool(glimra::WindowNumber)>& ignores,
                                                const std::optional<std::vector<WindowInfo>>& shown) {
    const QScreen* mainScreen = QGuiApplication::primaryScreen();
    const double h = mainScreen ? mainScreen->geometry().height() : 0.0;
    const QPointF p = glimra::displayPointFromScreenPoint(point, h);
    auto* server = windowServer();
    if (!server && !shown)
        return std::nullopt;
    const auto windows = shown ? shown : server->copyWindowInfo(true, true);
    if (!windows)
        return std::nullopt;
    for (const WindowInfo& window : *windows) {
        if (!(window.alpha > 0.0f))
            continue;
        if (!glimra::displayRectContainsPoint(window.bounds, p))
            continue;
        if (ignores(window.number))
            continue;
        // Docks and panels play the system Dock: a capture looks through them.
        if (window.kind == WindowInfo::Kind::Dock)
            continue;
        return window;
    }
    return std::nullopt;
}

void ScreensnapManager::createCGImageOfRect(const QRectF& rect, ImageHandler done) {
    if (auto* server = windowServer())
        server->grabRect(rect, std::move(done));
    else
        done(QImage());
}

void ScreensnapManager::createCGImageOfScreen(const QScreen* screen, ImageHandler done) {
    auto* server = windowServer();
    if (server && screen)
        server->grabScreen(screen, std::move(done));
    else
        done(QImage());
}

void ScreensnapManager::createCGImageOfAllScreens(ImageHandler done) {
    auto* server = windowServer();
    const QRectF box = server ? glimra::boundingRectInPoints(server->screens()) : QRectF();
    if (server && !box.isEmpty())
        server->grabRect(box, std::move(done));
    else
        done(QImage());
}

QImage ScreensnapManager::createCGImageOfWindow(glimra::WindowNumber windowNumber) {
    auto* server = windowServer();
    return server ? server->createImageOfWindow(windowNumber) : QImage();
}

QScreen* ScreensnapManager::screenContainingMouse() {
    // Where the display server does not give the pointer's position, it says where the user works.
    if (auto* server = windowServer())
        if (const QString focused = server->focusedScreenName(); !focused.isEmpty())
            for (QScreen* screen : QGuiApplication::screens())
                if (screen->name() == focused)
                    return screen;
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
    // At once where the display server answers at once, so the capture has ended when this returns.
    createCGImageOfScreen(screen, [this, block, title](const QImage& image) {
        if (block) {
            // The screen's backing scale is what its image was taken at: the display server's own, which
            // a toolkit may round (Qt 6.4 on Wayland takes 1.5 for 2).
            if (!image.isNull())
                block(true, image, image.devicePixelRatio() > 1.0, title, nullptr);
            else
                block(false, QImage(), false, std::nullopt, nullptr);
        }
        setSnapping(false);
    });
}
