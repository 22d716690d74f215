#include "null/NullDesktop.h"

#include "Log.h"
#include "display/WindowServer.h"
#include "hotkeys/HotKeyBackend.h"
#include "hotkeys/MouseEventSource.h"
#include "overlay/OverlayDesktop.h"
#include "overlay/ScreenChangeWatch.h"
#include "panel/PanelDesktop.h"

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcHotKeys)

namespace glimra::null {

namespace {

// No screens: every grab is null, with a line that says why.
class NullWindowServer final : public WindowServer {
public:
    explicit NullWindowServer(QString where) : where_(std::move(where)) {}

    std::vector<ScreenGeometry> screens() const override { return {}; }
    void grabRect(const QRectF&, ImageHandler done) override { done(nothing()); }
    void grabScreen(const QScreen*, ImageHandler done) override { done(nothing()); }
    void grabDesktop(SnapshotHandler done) override {
        nothing();
        done(nullptr);
    }
    QImage createImageOfWindow(WindowNumber) override { return QImage(); }
    std::optional<std::vector<WindowInfo>> copyWindowInfo(bool, bool) override { return std::nullopt; }

private:
    QImage nothing() const {
        writeLogLine(QStringLiteral("No image: %1 has no screens to copy").arg(where_));
        return QImage();
    }

    QString where_;
};

// Nothing to cover: the capture shows no overlay without screens.
class NullOverlayDesktop final : public OverlayDesktop {
public:
    std::vector<ScreenGeometry> screens() override { return {}; }
    bool composites() override { return false; }
    bool windowsSpanScreens() override { return true; }
    bool placesWindowsAnywhere() override { return true; }
    bool shapesWindows() override { return false; }
    std::unique_ptr<QObject> observeScreenChanges(std::function<void()> changed) override {
        return std::make_unique<ScreenChangeWatch>(std::move(changed));
    }
    void takeSnapshot(SnapshotHandler done) override { done(nullptr); }
    QImage imageOfWindowContents(WindowNumber) override { return QImage(); }
    WindowStyle overlayWindowStyle() override {
        return {Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint, false};
    }
    WindowNumber windowNumberOf(const QWindow&) override { return kNoWindow; }
    void setPassesClicksThrough(QWindow&, bool) override {}
    void setVisibleRegion(QWindow&, const std::optional<QRegion>&) override {}
    void sync() override {}
};

} // namespace

NullDesktop::NullDesktop(QString platform) : platform_(std::move(platform)) {}

QString NullDesktop::where() const {
    return platform_.isEmpty() ? QStringLiteral("a program without a display")
                               : QStringLiteral("the \"%1\" platform").arg(platform_);
}

std::unique_ptr<WindowServer> NullDesktop::makeWindowServer() {
    return std::make_unique<NullWindowServer>(where());
}

std::unique_ptr<OverlayDesktop> NullDesktop::makeOverlayDesktop(WindowServer&) {
    return std::make_unique<NullOverlayDesktop>();
}

std::unique_ptr<PanelDesktop> NullDesktop::makePanelDesktop() {
    // Qt's offscreen stand-in draws a window's transparency as it is: nothing needs cutting.
    return std::make_unique<TranslucentPanelDesktop>();
}

std::unique_ptr<MouseEventSource> NullDesktop::makeMouseEventSource() {
    return std::make_unique<NoMouseEvents>();
}

Qt::WindowFlags NullDesktop::panelWindowFlags() const {
    return Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::BypassWindowManagerHint;
}

std::unique_ptr<carbon::HotKeyBackend> NullDesktop::makeOwnHotKeyBackend() {
    qCWarning(lcHotKeys, "Hot keys are unavailable: %s reaches no desktop", qPrintable(where()));
    return std::make_unique<carbon::NoHotKeys>();
}

} // namespace glimra::null
