#pragma once
// A desktop for the crosshair capture's logic without any window or X server: overlay windows that
// record what they are asked, a window list with one answer, and services that count what the
// capture does (grabs, beeps, cursor, countdown) on a clock the test moves.

#include "ImageCaptureCrosshairWindowController.h"
#include "TestSupport.h"
#include "x11/WindowServer.h"

#include <QImage>

#include <memory>
#include <optional>
#include <ostream>
#include <vector>

// Readable failures for the y-up value types.
inline void PrintTo(const CGPoint& p, std::ostream* os) {
    *os << "(" << p.x << ", " << p.y << ")";
}
inline void PrintTo(const CGSize& s, std::ostream* os) {
    *os << s.width << " x " << s.height;
}
inline void PrintTo(const CGRect& r, std::ostream* os) {
    *os << "(" << r.origin.x << ", " << r.origin.y << ", " << r.size.width << ", " << r.size.height << ")";
}

namespace glimra::test {

// One overlay window's life, readable after the window is gone.
struct FakeOverlayRecord {
    // Inputs the test sets before the window is made (copied from the desktop's template).
    CGPoint displayOffset;
    CGSize boundsSize{1920, 1080};
    CGPoint mouseLocation;
    CGPoint screenOffset; // screen point = view point + screenOffset
    uint32_t windowNumber = 0x600001;

    OverlayContentView* view = nullptr;
    bool visible = false;
    bool isKey = false;
    bool ignoresMouseEvents = false;
    int timesShown = 0;
    int timesHidden = 0;
    int repaints = 0;
    std::vector<CGRect> dirtyRects;
    std::vector<CursorShape> cursors;
    bool destroyed = false;
};

class FakeOverlayWindow final : public OverlayWindow {
public:
    explicit FakeOverlayWindow(std::shared_ptr<FakeOverlayRecord> record) : r_(std::move(record)) {}
    ~FakeOverlayWindow() override { r_->destroyed = true; }

    void setContentView(OverlayContentView* view) override { r_->view = view; }
    CGPoint displayOffset() const override { return r_->displayOffset; }
    CGSize boundsSize() const override { return r_->boundsSize; }
    void orderFrontRegardless() override {
        r_->visible = true;
        ++r_->timesShown;
    }
    void makeKeyWindow() override { r_->isKey = true; }
    void orderOut() override {
        r_->visible = false;
        r_->isKey = false;
        ++r_->timesHidden;
    }
    void setIgnoresMouseEvents(bool ignores) override { r_->ignoresMouseEvents = ignores; }
    void setCanBecomeKeyWindow(bool) override {}
    void setNeedsDisplay() override { ++r_->repaints; }
    void setNeedsDisplayInRect(const CGRect& rect) override { r_->dirtyRects.push_back(rect); }
    CGPoint convertPointToScreen(CGPoint p) const override {
        return {p.x + r_->screenOffset.x, p.y + r_->screenOffset.y};
    }
    CGPoint convertPointFromScreen(CGPoint p) const override {
        return {p.x - r_->screenOffset.x, p.y - r_->screenOffset.y};
    }
    CGPoint mouseLocationOutsideOfEventStream() const override { return r_->mouseLocation; }
    uint32_t windowNumber() const override { return r_->windowNumber; }
    void setCursor(CursorShape shape) override { r_->cursors.push_back(shape); }

private:
    std::shared_ptr<FakeOverlayRecord> r_;
};

// Every capture's block call, in order.
struct CaptureReport {
    bool success = false;
    QImage image;
    bool isHighResolution = false;
    std::optional<QString> title;
    std::optional<int> errorCode;
};

class FakeCrosshairDesktop {
public:
    // What the next overlay window starts with.
    FakeOverlayRecord overlayTemplate;
    bool hasOverlay = true;
    bool applicationActive = true;
    bool optionKeyDown = false;
    int64_t delaySeconds = 0;
    double clock = 1000;
    // Pixels per point of grabs and window images.
    int scale = 1;
    // The window list's answer, and the image of that window (null: it cannot be read).
    std::optional<glimra::x11::WindowInfo> windowUnderPoint;
    QImage windowImage;

    // What the capture did.
    std::vector<std::shared_ptr<FakeOverlayRecord>> overlays;
    std::vector<CGRect> grabs;
    std::vector<CGPoint> windowQueries;
    std::vector<uint32_t> ignoredWindows;
    std::vector<long> countdownImagesAsked;
    int beeps = 0;
    int cursorHides = 0;
    int cursorUnhides = 0;
    int ticks = 0;

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
        s.createCGImageOfRect = [this](const CGRect& r) {
            grabs.push_back(r);
            return QImage(int(r.size.width) * scale, int(r.size.height) * scale, QImage::Format_RGB32);
        };
        s.isApplicationActive = [this] { return applicationActive; };
        s.now = [this] { return clock; };
        s.countdownImage = [this](long seconds) {
            countdownImagesAsked.push_back(seconds);
            return QImage(45, 45, QImage::Format_ARGB32);
        };
        s.playCountdownTick = [this] { ++ticks; };
        s.cropHandleWidth = [] { return 12.0; };
        s.view.windowInformationForLocation = [this](CGPoint p, uint32_t ignoring) {
            windowQueries.push_back(p);
            ignoredWindows.push_back(ignoring);
            return windowUnderPoint;
        };
        s.view.createCGImageOfWindow = [this](uint32_t) { return windowImage; };
        s.view.isOptionKeyDown = [this] { return optionKeyDown; };
        s.view.timedSnapDelaySeconds = [this] { return delaySeconds; };
        return s;
    }

    // A block that appends to reports.
    ScreensnapCompletionBlock recorder(std::vector<CaptureReport>& reports) {
        return [&reports](bool success, const QImage& image, bool isHighResolution,
                          const std::optional<QString>& title, const glimra::NSError* error) {
            reports.push_back({success, image, isHighResolution, title,
                               error ? std::optional<int>(error->code) : std::nullopt});
        };
    }
};

// A controller on the fake desktop, with the reports of its captures.
class FakeCrosshairSession {
public:
    FakeCrosshairDesktop desktop;
    std::vector<CaptureReport> reports;
    std::unique_ptr<ImageCaptureCrosshairWindowController> controller;

    // A controller made on first use, so the test can set the desktop up first.
    ImageCaptureCrosshairWindowController& capture() {
        if (!controller)
            controller = std::make_unique<ImageCaptureCrosshairWindowController>(desktop.services());
        return *controller;
    }
    void begin(bool timed = false) {
        capture().beginCaptureAsTimed(timed, desktop.recorder(reports));
        view_ = controller->contentView();
    }
    // The overlay view of the last begin; it outlives the end of its capture until the event loop
    // runs again.
    ImageCaptureCrosshairOverlayView& view() { return *view_; }
    FakeOverlayRecord& window() { return *desktop.overlays.back(); }

    // Button down at from, one drag step to `to`, and up there.
    void drag(CGPoint from, CGPoint to) {
        view().mouseDown(from);
        view().mouseDragged(to, to.x - from.x, to.y - from.y);
        view().mouseUp(to);
    }
    // The delayed grab and the release of the overlay run in the event loop.
    bool waitForReports(size_t count, int timeoutMs = 2000) {
        return waitUntil([&] { return reports.size() >= count; }, timeoutMs);
    }

private:
    ImageCaptureCrosshairOverlayView* view_ = nullptr;
};

} // namespace glimra::test
