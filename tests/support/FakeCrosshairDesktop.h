#pragma once
// A desktop for the crosshair capture's logic without an X server: overlay windows that record what
// they are asked, a window list with one answer, and services that count what the capture does
// (grabs, beeps, cursor, countdown, full-screen captures) on a clock the test moves. The resize panel
// is the real one, on whatever display Qt has (offscreen in the unit tests).

#include "GeometryPrinting.h"
#include "ImageCaptureCrosshairResizeWindowController.h"
#include "ImageCaptureCrosshairWindowController.h"
#include "TestSupport.h"
#include "display/WindowInfo.h"

#include <QWidget>

#include <optional>
#include <vector>

namespace glimra::test {

// One overlay window: what it starts with, and what it was asked (readable after it is gone).
struct FakeOverlayRecord {
    CGPoint displayOffset;
    CGSize boundsSize{1920, 1080};
    CGPoint mouseLocation;
    CGPoint screenOffset; // a screen point is the view point plus this
    uint32_t windowNumber = 0x600001;
    bool showsSnapshot = false; // a picture of the desktop rather than the live one

    bool visible = false;
    bool ignoresMouseEvents = false;
    int timesShown = 0;
    std::vector<CursorShape> cursors;
};

class FakeOverlayWindow final : public OverlayWindow {
public:
    explicit FakeOverlayWindow(std::shared_ptr<FakeOverlayRecord> record) : r_(std::move(record)) {}

    void setContentView(OverlayContentView*) override {}
    CGPoint displayOffset() const override { return r_->displayOffset; }
    CGSize boundsSize() const override { return r_->boundsSize; }
    void orderFrontRegardless() override {
        r_->visible = true;
        ++r_->timesShown;
    }
    void makeKeyWindow() override {}
    void orderOut() override { r_->visible = false; }
    void setIgnoresMouseEvents(bool ignores) override { r_->ignoresMouseEvents = ignores; }
    void setCanBecomeKeyWindow(bool) override {}
    void keepPanelAbove(QWidget*) override {}
    void setNeedsDisplay() override {}
    void setNeedsDisplayInRect(const CGRect&) override {}
    CGPoint convertPointToScreen(CGPoint p) const override {
        return {p.x + r_->screenOffset.x, p.y + r_->screenOffset.y};
    }
    CGPoint convertPointFromScreen(CGPoint p) const override {
        return {p.x - r_->screenOffset.x, p.y - r_->screenOffset.y};
    }
    CGPoint mouseLocationOutsideOfEventStream() const override { return r_->mouseLocation; }
    uint32_t windowNumber() const override { return r_->windowNumber; }
    void setCursor(CursorShape shape) override { r_->cursors.push_back(shape); }
    void setEscapeKeyUpHandler(std::function<void()>) override {}
    void setScreensChangedHandler(std::function<void()>) override {}
    QImage createImageOfRectAsShown(const QRectF& rect) const override {
        return r_->showsSnapshot ? QImage(rect.size().toSize(), QImage::Format_RGB32) : QImage();
    }

private:
    std::shared_ptr<FakeOverlayRecord> r_;
};

// One call of a capture's block.
struct CaptureReport {
    bool success = false;
    QImage image;
    bool isHighResolution = false;
    std::optional<qint64> errorCode;
};

// A controller on the fake desktop and the reports of its captures. Set the desktop up first: the
// controller is made on first use.
class FakeCrosshairSession {
public:
    // The desktop.
    FakeOverlayRecord overlayTemplate; // what each new overlay window starts with
    bool hasOverlay = true;
    bool applicationActive = true;
    bool optionKeyDown = false;
    int64_t delaySeconds = 0;
    double clock = 1000;
    std::vector<CGRect> screens{NSMakeRect(0, 0, 1920, 1080)}; // screen coordinates, the main one first

    // What the capture did.
    std::vector<CaptureReport> reports;
    std::vector<std::shared_ptr<FakeOverlayRecord>> overlays;
    std::vector<CGRect> grabs;
    std::vector<std::pair<CGPoint, bool>> windowQueries; // screen point, the overlay left out
    std::vector<long> digits;
    int beeps = 0;
    int cursorHides = 0;
    int cursorUnhides = 0;
    int ticks = 0;

    std::unique_ptr<ImageCaptureCrosshairWindowController> controller;

    ImageCaptureCrosshairWindowController& capture() {
        if (!controller)
            controller = std::make_unique<ImageCaptureCrosshairWindowController>(services());
        return *controller;
    }
    ScreensnapCompletionBlock recorder(std::vector<CaptureReport>& into) {
        return [&into](bool success, const QImage& image, bool isHighResolution,
                       const std::optional<QString>&, const glimra::NSError* error) {
            into.push_back({success, image, isHighResolution,
                            error ? std::optional<qint64>(error->code) : std::nullopt});
        };
    }
    void begin(bool timed = false) {
        capture().beginCaptureAsTimed(timed, recorder(reports));
        view_ = controller->contentView();
    }
    // The view of the last begin; it outlives its capture until the event loop runs again.
    ImageCaptureCrosshairOverlayView& view() { return *view_; }
    FakeOverlayRecord& window() { return *overlays.back(); }
    // The running capture's resize panel, or nullptr.
    ImageCaptureCrosshairResizeWindowController* panel() { return capture().resizeController(); }

    void drag(CGPoint from, CGPoint to) {
        view().mouseDown(from);
        view().mouseDragged(to, to.x - from.x, to.y - from.y);
        view().mouseUp(to);
    }
    // The delayed grab and the release of the overlay happen in the event loop.
    bool waitForReports(size_t count, int timeoutMs = 2000) {
        return waitUntil([&] { return reports.size() >= count; }, timeoutMs);
    }

private:
    ImageCaptureCrosshairWindowController::Services services() {
        ImageCaptureCrosshairWindowController::Services s;
        s.makeOverlayWindow = [this]() -> std::unique_ptr<OverlayWindow> {
            if (!hasOverlay)
                return nullptr;
            overlays.push_back(std::make_shared<FakeOverlayRecord>(overlayTemplate));
            return std::make_unique<FakeOverlayWindow>(overlays.back());
        };
        s.hideCursor = [this] { ++cursorHides; };
        s.unhideCursor = [this] { ++cursorUnhides; };
        s.beep = [this] { ++beeps; };
        s.createCGImageOfRect = [this](const CGRect& r, std::function<void(QImage)> done) {
            grabs.push_back(r);
            done(QImage(int(r.size.width), int(r.size.height), QImage::Format_RGB32));
        };
        s.isApplicationActive = [this] { return applicationActive; };
        s.now = [this] { return clock; };
        s.countdownImage = [this](long seconds) {
            digits.push_back(seconds);
            return QImage(45, 45, QImage::Format_ARGB32);
        };
        s.playCountdownTick = [this] { ++ticks; };
        s.cropHandleWidth = [] { return 12.0; };
        s.view.windowInformationForLocation = [this](CGPoint p, const std::function<bool(uint32_t)>& ignores,
                                                     const std::optional<std::vector<glimra::WindowInfo>>&) {
            windowQueries.emplace_back(p, ignores(window().windowNumber));
            return std::optional<glimra::WindowInfo>();
        };
        s.view.createCGImageOfWindow = [](uint32_t) { return QImage(); };
        s.view.isOptionKeyDown = [this] { return optionKeyDown; };
        s.view.timedSnapDelaySeconds = [this] { return delaySeconds; };
        s.view.screenFrames = [this] { return screens; };
        s.view.performFullScreenSnapshot = [](const ScreensnapCompletionBlock& block) {
            block(true, QImage(1920, 1080, QImage::Format_RGB32), false, "Fullscreen", nullptr);
        };
        return s;
    }

    ImageCaptureCrosshairOverlayView* view_ = nullptr;
};

} // namespace glimra::test
