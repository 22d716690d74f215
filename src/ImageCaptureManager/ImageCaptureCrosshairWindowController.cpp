#include "ImageCaptureCrosshairWindowController.h"

#include "DarkPanel.h"
#include "ImageCaptureCrosshairResizeWindowController.h"
#include "ImageCaptureManagerError.h"
#include "Log.h"

#include <QApplication>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <limits>

using namespace carbon;

namespace {

// The whole seconds a countdown shows: the ceiling of what is left.
long wholeSecondsLeft(double remaining) {
    const double whole = std::ceil(remaining);
    if (!(whole > double(std::numeric_limits<long>::min())) ||
        !(whole < double(std::numeric_limits<long>::max())))
        return 0;
    return long(whole);
}

} // namespace

ImageCaptureCrosshairWindowController::ImageCaptureCrosshairWindowController(Services services)
    : services_(std::move(services)), snapCountdownTimer_(std::make_unique<QTimer>()) {
    snapCountdownTimer_->setInterval(100);
    QObject::connect(snapCountdownTimer_.get(), &QTimer::timeout, &delayedWork_,
                     [this] { countdownTimerFired(); });
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    // Timers run on the thread their objects belong to: the main thread, wherever this was made.
    if (QThread::currentThread() != app->thread()) {
        delayedWork_.moveToThread(app->thread());
        snapCountdownTimer_->moveToThread(app->thread());
    }
    // Windows go while the application object still exists; a capture cut short by quitting reports
    // as cancelled.
    QObject::connect(app, &QCoreApplication::aboutToQuit, &delayedWork_, [this] {
        cancelCapture(nullptr);
        released_.clear();
        preparedResizeController_.reset();
    });
}

ImageCaptureCrosshairWindowController::~ImageCaptureCrosshairWindowController() {
    // Without the application object the mouse monitor has gone, and its handlers with it.
    if (QCoreApplication::instance())
        removeBackgroundEventHandler();
    setResizeController(nullptr);
    if (window_)
        window_->setContentView(nullptr);
}

void ImageCaptureCrosshairWindowController::beginCaptureAsTimed(bool timed,
                                                                ScreensnapCompletionBlock completionHandler) {
    if (isCaptureActive_) {
        services_.beep();
        return;
    }
    isCaptureActive_ = true;
    completionHandler_ = std::move(completionHandler);

    std::unique_ptr<OverlayWindow> window =
        services_.makeOverlayWindow ? services_.makeOverlayWindow() : nullptr;
    if (!window) {
        if (services_.makeOverlayWindow)
            NSLog("The capture overlay could not be shown");
        cancelCapture(nullptr);
        return;
    }
    releaseOverlayLater();
    window_ = std::move(window);
    view_ = std::make_unique<ImageCaptureCrosshairOverlayView>(
        *this, *window_, services_.view,
        crosshair::HandleMetrics::forImageWidth(services_.cropHandleWidth()));
    window_->setContentView(view_.get());
    window_->setEscapeKeyUpHandler([this] { cancelCapture(nullptr); });
    // The overlay covers the screens as they were: a selection on a desktop that has changed under it
    // would be cut from a picture of another layout.
    window_->setScreensChangedHandler([this] {
        NSLog("The screens changed during the capture; it was cancelled");
        cancelCapture(nullptr);
    });
    window_->setFailedHandler([this](const QString& why) {
        NSLog("The overlay cannot go on: %@", why);
        cancelCapture(nullptr);
    });

    installBackgroundEventHandler();
    window_->orderFrontRegardless();
    window_->makeKeyWindow();

    // The badge starts at the pointer: its x, and its distance from the top of the desktop.
    const CGPoint p = window_->mouseLocationOutsideOfEventStream();
    view_->setTimedSnap(timed);
    services_.hideCursor();
    isCursorHidden_ = true;
    view_->setTopNumber(p.x);
    view_->setBottomNumber(window_->boundsSize().height - p.y);
    window_->setNeedsDisplay();
}

void ImageCaptureCrosshairWindowController::beginCaptureWithCompletionHandler(
    ScreensnapCompletionBlock completionHandler) {
    beginCaptureAsTimed(false, std::move(completionHandler));
}

void ImageCaptureCrosshairWindowController::beginTimedCaptureWithCompletionHandler(
    ScreensnapCompletionBlock completionHandler) {
    beginCaptureAsTimed(true, std::move(completionHandler));
}

void ImageCaptureCrosshairWindowController::beginCapturePreviousAreaWithCompletionHandler(
    ScreensnapCompletionBlock completionHandler) {
    // Taking the block of a running capture's place would leave that one unanswered.
    if (isCaptureActive_) {
        services_.beep();
        return;
    }
    completionHandler_ = std::move(completionHandler);
    if (previousRect_ == NSZeroRect) {
        cancelCapture(nullptr);
        return;
    }
    // Already in global display coordinates: no overlay offset applies.
    captureGlobalRect(previousRect_, QImage());
}

void ImageCaptureCrosshairWindowController::captureRect(const CGRect& r) {
    const CGPoint offset = window_ ? window_->displayOffset() : CGPoint{};
    const CGRect global = NSOffsetRect(r, offset.x, offset.y);
    // Over a picture of the desktop the selection is cut from what the user saw; after a countdown,
    // during which the user worked with the live desktop, the screen is grabbed as it is now.
    QImage shown;
    if (window_ && view_ && !view_->isDuringCountdown())
        shown = window_->createImageOfRectAsShown(
            QRectF(global.origin.x, global.origin.y, global.size.width, global.size.height));
    captureGlobalRect(global, shown);
}

void ImageCaptureCrosshairWindowController::captureGlobalRect(const CGRect& r, const QImage& shown) {
    const ScreensnapCompletionBlock handler = endCapture();
    if (r.size.width == 0 || r.size.height == 0) {
        const glimra::NSError error = ImageCaptureManagerError::zeroDimensionError();
        if (handler)
            handler(false, QImage(), false, std::nullopt, &error);
        return;
    }
    previousRect_ = r;
    hasPreviousRect_.store(true);
    const auto report = [handler, width = r.size.width](const QImage& image) {
        if (handler)
            handler(true, image, double(image.width()) != width, std::nullopt, nullptr);
    };
    if (!shown.isNull())
        report(shown);
    else
        services_.createCGImageOfRect(r, report);
}

void ImageCaptureCrosshairWindowController::cancelCapture(const glimra::NSError* error) {
    const ScreensnapCompletionBlock handler = endCapture();
    if (handler)
        handler(false, QImage(), false, std::nullopt, error);
}

void ImageCaptureCrosshairWindowController::finishCaptureWithImage(const QImage& image, bool isHighResolution,
                                                                   const std::optional<QString>& title) {
    const ScreensnapCompletionBlock handler = endCapture();
    if (handler)
        handler(true, image, isHighResolution, title, nullptr);
}

// Everything is put back before the block runs: the block may start the next capture at once.
ScreensnapCompletionBlock ImageCaptureCrosshairWindowController::endCapture() {
    snapCountdownTimer_->stop();
    isCaptureActive_ = false;
    removeBackgroundEventHandler();
    if (window_) {
        window_->orderOut();
        window_->setCursor(CursorShape::Arrow);
    }
    setResizeController(nullptr);
    unhideCursorIfHidden();
    releaseOverlayLater();
    return std::exchange(completionHandler_, nullptr);
}

void ImageCaptureCrosshairWindowController::setResizeController(
    std::unique_ptr<ImageCaptureCrosshairResizeWindowController> controller) {
    if (resizeController_ && resizeController_.get() != controller.get()) {
        // Nothing of the panel reaches the view any more, whichever of the two goes first.
        resizeController_->setDelegate(nullptr);
        resizeController_->window()->setAuxiliaryMouseMovedResponder(nullptr);
        resizeController_->window()->orderOut();
        if (window_)
            window_->keepPanelAbove(nullptr);
    }
    resizeController_ = std::move(controller);
}

std::unique_ptr<ImageCaptureCrosshairResizeWindowController>
ImageCaptureCrosshairWindowController::newResizeController() {
    if (!preparedResizeController_)
        return std::make_unique<ImageCaptureCrosshairResizeWindowController>();
    // The next one is made once the helper is idle again: a second after no capture runs.
    QTimer::singleShot(1000, &delayedWork_, [this] {
        if (!isCaptureActive_)
            prepareResizeController();
    });
    return std::move(preparedResizeController_);
}

void ImageCaptureCrosshairWindowController::prepareResizeController() {
    if (!preparedResizeController_ && qobject_cast<QApplication*>(QCoreApplication::instance()))
        preparedResizeController_ = std::make_unique<ImageCaptureCrosshairResizeWindowController>();
}

// The overlay's own calls may be what ends the capture, so it goes once they have returned.
void ImageCaptureCrosshairWindowController::releaseOverlayLater() {
    if (!window_ && !view_)
        return;
    if (window_)
        window_->setContentView(nullptr);
    released_.emplace_back(std::move(window_), std::move(view_));
    QTimer::singleShot(0, &delayedWork_, [this] { released_.clear(); });
}

void ImageCaptureCrosshairWindowController::unhideCursorIfHidden() {
    if (!isCursorHidden_)
        return;
    isCursorHidden_ = false;
    services_.unhideCursor();
}

void ImageCaptureCrosshairWindowController::beginCountdown(double delaySeconds) {
    snapTime_ = services_.now() + delaySeconds;
    snapPartialSecondsRemaining_ = 0;
    snapCountdownTimer_->start();
    countdownTimerFired();
}

void ImageCaptureCrosshairWindowController::countdownTimerFired() {
    // A tick after the countdown ended (or without a capture) must not grab a second time.
    if (!snapCountdownTimer_->isActive() || !view_ || !window_) {
        snapCountdownTimer_->stop();
        return;
    }
    const double remaining = snapTime_ - services_.now();
    const long whole = wholeSecondsLeft(remaining);
    if (whole != snapPartialSecondsRemaining_ && remaining > 0) {
        snapPartialSecondsRemaining_ = whole;
        view_->setTimerImage(services_.countdownImage(whole));
        services_.playCountdownTick();
    } else if (!(remaining > 0)) {
        view_->setTimerImage(QImage());
        snapCountdownTimer_->stop();
        window_->orderOut();
        view_->performCaptureSelectionRectAfterDelay();
    }
}

void ImageCaptureCrosshairWindowController::installBackgroundEventHandler() {
    if (services_.isApplicationActive() || backgroundEventHandlerRef_ || !view_)
        return;
    static constexpr EventTypeSpec kinds[] = {{kEventClassMouse, kEventMouseDown},
                                              {kEventClassMouse, kEventMouseUp},
                                              {kEventClassMouse, kEventMouseMoved},
                                              {kEventClassMouse, kEventMouseDragged}};
    const OSStatus status = InstallEventHandler(
        GetEventMonitorTarget(), NewEventHandlerUPP(CrosshairOverlayBackgroundEventHandler),
        GetEventTypeCount(kinds), kinds, view_.get(), &backgroundEventHandlerRef_);
    if (status != noErr) {
        NSLog("InstallEventHandler error: %d", status);
        backgroundEventHandlerRef_ = nullptr;
    }
}

void ImageCaptureCrosshairWindowController::removeBackgroundEventHandler() {
    if (!backgroundEventHandlerRef_)
        return;
    if (const OSStatus status = RemoveEventHandler(backgroundEventHandlerRef_); status != noErr)
        NSLog("RemoveEventHandler error: %d", status);
    backgroundEventHandlerRef_ = nullptr;
}

OSStatus CrosshairOverlayBackgroundEventHandler(EventHandlerCallRef nextHandler, EventRef event,
                                                void* userData) {
    auto* view = static_cast<ImageCaptureCrosshairOverlayView*>(userData);
    if (GetEventClass(event) == kEventClassMouse && GetEventKind(event) == kEventMouseMoved) {
        view->mouseMoved(view->window().mouseLocationOutsideOfEventStream());
        return noErr;
    }
    return CallNextEventHandler(nextHandler, event);
}
