#include "ImageCaptureCrosshairOverlayWindow.h"

#include "cursor/NSCursor.h"
#include "overlay/OverlayDesktop.h"
#include "x11/WindowServer.h"

#include <QBackingStore>
#include <QBitmap>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSurfaceFormat>
#include <QTimer>
#include <QWindow>

#include <cmath>

using glimra::NSCursor;

// One window of the overlay: a part of the desktop at one scale. It paints through its own backing
// store, so the overlay decides when and where, and hands its events to the overlay.
class ImageCaptureCrosshairOverlayWindow::PartWindow : public QWindow {
public:
    PartWindow(ImageCaptureCrosshairOverlayWindow& owner, std::size_t index)
        : owner_(&owner), index_(index) {}

    QBackingStore& backingStore() { return store_; }
    // Events that arrive after the overlay let go of the window go nowhere.
    void detach() { owner_ = nullptr; }

protected:
    // Exposures are rare (showing, a window above going away): the whole part is painted again.
    void exposeEvent(QExposeEvent*) override {
        if (owner_ && isExposed())
            owner_->exposed(index_);
    }
    void resizeEvent(QResizeEvent*) override { store_.resize(size()); }
    void mousePressEvent(QMouseEvent* e) override { forward(e); }
    void mouseMoveEvent(QMouseEvent* e) override { forward(e); }
    void mouseReleaseEvent(QMouseEvent* e) override { forward(e); }
    void keyReleaseEvent(QKeyEvent* e) override {
        if (owner_)
            owner_->keyReleased(e);
    }

private:
    void forward(QMouseEvent* e) {
        if (owner_)
            owner_->mouseEvent(index_, e);
    }

    ImageCaptureCrosshairOverlayWindow* owner_;
    std::size_t index_;
    QBackingStore store_{this};
};

// A window may be let go of inside one of its own event handlers (a capture that ends on a click):
// it is hidden at once and deleted when the event loop comes round.
void ImageCaptureCrosshairOverlayWindow::PartWindowDeleter::operator()(PartWindow* w) const {
    w->detach();
    w->hide();
    w->deleteLater();
}

namespace {

QScreen* screenNamed(const QString& name) {
    for (QScreen* s : QGuiApplication::screens())
        if (s->name() == name)
            return s;
    return nullptr;
}

} // namespace

ImageCaptureCrosshairOverlayWindow::ImageCaptureCrosshairOverlayWindow(glimra::OverlayDesktop& desktop,
                                                                       QString imagesDir)
    : desktop_(desktop), geometry_(desktop.screens()), renderer_(std::move(imagesDir)),
      badgeSize_(renderer_.badgeSize()), composited_(desktop.composites()) {
    for (const glimra::x11::ScreenGeometry& screen : geometry_.screens())
        screenRects_.push_back(screen.points.translated(-geometry_.bounds().topLeft()));
    const QPointF qtOrigin = glimra::x11::WindowServer::globalDisplayOrigin();
    for (std::size_t i = 0; i < geometry_.parts().size(); ++i) {
        const CrosshairOverlayPart& part = geometry_.parts()[i];
        std::unique_ptr<PartWindow, PartWindowDeleter> w(new PartWindow(*this, i));
        if (QScreen* screen = screenNamed(part.screenName))
            w->setScreen(screen);
        desktop_.prepareOverlayWindow(*w);
        if (composited_) {
            QSurfaceFormat format = w->format();
            format.setAlphaBufferSize(8);
            w->setFormat(format);
        }
        w->setGeometry(part.points.translated(qtOrigin).toAlignedRect());
        w->setTitle(QStringLiteral("Crosshair capture"));
        w->create();
        windows_.push_back(std::move(w));
    }
    backdrops_.resize(windows_.size());
    visibleRegions_.resize(windows_.size());
    screenWatch_ = desktop_.observeScreenChanges([this] { screensMayHaveChanged(); });
}

ImageCaptureCrosshairOverlayWindow::~ImageCaptureCrosshairOverlayWindow() {
    *alive_ = false;
}

std::vector<QWindow*> ImageCaptureCrosshairOverlayWindow::windows() const {
    std::vector<QWindow*> out;
    for (const auto& w : windows_)
        out.push_back(w.get());
    return out;
}

void ImageCaptureCrosshairOverlayWindow::setContentView(OverlayContentView* view) {
    view_ = view;
    painted_.reset();
    scheduleDisplay();
}

void ImageCaptureCrosshairOverlayWindow::orderFrontRegardless() {
    if (!snapshot_) {
        // Taken before anything of the overlay shows: what the user sees is what a capture cuts.
        snapshot_ = desktop_.takeSnapshot();
        for (std::size_t i = 0; i < windows_.size(); ++i)
            if (snapshot_)
                backdrops_[i] = snapshot_->nativePixels(geometry_.parts()[i].native);
    }
    // The first frame is painted whole, as each window is exposed.
    painted_.reset();
    visible_ = true;
    updateVisibleRegions();
    for (auto& w : windows_) {
        w->show();
        w->raise();
    }
    if (above_ && above_->isVisible())
        above_->raise();
}

void ImageCaptureCrosshairOverlayWindow::makeKeyWindow() {
    if (!canBecomeKey_ || !visible_ || windows_.empty())
        return;
    // The part under the pointer, so that its screen is the one the keyboard seems to be on.
    QWindow* target = windows_.front().get();
    const QPointF pointer = QCursor::pos();
    for (auto& w : windows_)
        if (w->geometry().contains(pointer.toPoint()))
            target = w.get();
    target->requestActivate();
}

void ImageCaptureCrosshairOverlayWindow::orderOut() {
    if (!visible_)
        return;
    visible_ = false;
    // A compositing manager may fade a window out from its last picture as it unmaps, while the screen
    // is grabbed: that picture is made empty first, so nothing of the overlay fades into the grab.
    if (composited_)
        for (auto& w : windows_)
            clearPart(*w);
    for (auto& w : windows_)
        w->hide();
    // Gone from the screen before the caller grabs it.
    desktop_.sync();
}

void ImageCaptureCrosshairOverlayWindow::clearPart(PartWindow& w) {
    if (!w.isExposed())
        return;
    const QRegion all(QRect(QPoint(0, 0), w.size()));
    QBackingStore& store = w.backingStore();
    store.beginPaint(all);
    {
        QPainter painter(store.paintDevice());
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(all.boundingRect(), Qt::transparent);
    }
    store.endPaint();
    store.flush(all);
}

void ImageCaptureCrosshairOverlayWindow::setIgnoresMouseEvents(bool ignores) {
    if (ignores == ignoresMouse_)
        return;
    ignoresMouse_ = ignores;
    for (auto& w : windows_)
        desktop_.setPassesClicksThrough(*w, ignores);
    // The outline comes and goes with it.
    scheduleDisplay();
    updateVisibleRegions();
}

void ImageCaptureCrosshairOverlayWindow::setCanBecomeKeyWindow(bool can) {
    canBecomeKey_ = can;
}

void ImageCaptureCrosshairOverlayWindow::keepWindowAbove(QWindow* window) {
    above_ = window;
    // It belongs to the overlay (WM_TRANSIENT_FOR), as a dialog belongs to its window.
    if (window && !windows_.empty())
        window->setTransientParent(windows_.front().get());
}

void ImageCaptureCrosshairOverlayWindow::setNeedsDisplay() {
    scheduleDisplay();
}

void ImageCaptureCrosshairOverlayWindow::setNeedsDisplayInRect(const CGRect& rect) {
    pendingRects_.push_back(geometry_.overlayRectFromView(rect));
    scheduleDisplay();
}

CGPoint ImageCaptureCrosshairOverlayWindow::convertPointToScreen(CGPoint viewPoint) const {
    return geometry_.screenPointFromView(viewPoint);
}

CGPoint ImageCaptureCrosshairOverlayWindow::convertPointFromScreen(CGPoint screenPoint) const {
    return geometry_.viewPointFromScreen(screenPoint);
}

CGPoint ImageCaptureCrosshairOverlayWindow::mouseLocationOutsideOfEventStream() const {
    // Qt's global position is in the points of the screen the pointer is on.
    return geometry_.viewPointFromDisplay(QPointF(QCursor::pos()) -
                                          glimra::x11::WindowServer::globalDisplayOrigin());
}

uint32_t ImageCaptureCrosshairOverlayWindow::windowNumber() const {
    return windows_.empty() ? 0 : uint32_t(windows_.front()->winId());
}

bool ImageCaptureCrosshairOverlayWindow::ownsWindowNumber(uint32_t number) const {
    for (const auto& w : windows_)
        if (uint32_t(w->winId()) == number)
            return true;
    return false;
}

void ImageCaptureCrosshairOverlayWindow::setCursor(CursorShape shape) {
    const NSCursor cursor = shape == CursorShape::OpenHand     ? NSCursor::openHandCursor()
                            : shape == CursorShape::ClosedHand ? NSCursor::closedHandCursor()
                                                               : NSCursor::arrowCursor();
    for (auto& w : windows_)
        cursor.set(w.get());
    if (above_)
        cursor.set(above_.data());
}

void ImageCaptureCrosshairOverlayWindow::setEscapeKeyUpHandler(std::function<void()> handler) {
    escapeHandler_ = std::move(handler);
}

QImage ImageCaptureCrosshairOverlayWindow::createImageOfRectAsShown(const QRectF& rect) const {
    return snapshot_ ? snapshot_->imageOfRect(rect) : QImage();
}

QImage ImageCaptureCrosshairOverlayWindow::createImageOfWindowAsShown(uint32_t number,
                                                                      const QRectF& bounds) const {
    // Where the display server keeps the window's own pixels they are its true picture, also where
    // other windows cover it; elsewhere it is cut from what the user saw.
    const QImage own = desktop_.imageOfWindowContents(number);
    return own.isNull() ? createImageOfRectAsShown(bounds) : own;
}

void ImageCaptureCrosshairOverlayWindow::setScreensChangedHandler(std::function<void()> handler) {
    screensChangedHandler_ = std::move(handler);
}

void ImageCaptureCrosshairOverlayWindow::screensMayHaveChanged() {
    // The display server may announce a change that changes nothing the overlay uses.
    if (desktop_.screens() == geometry_.screens() || !screensChangedHandler_)
        return;
    const std::function<void()> handler = screensChangedHandler_;
    handler();
}

void ImageCaptureCrosshairOverlayWindow::scheduleDisplay() {
    if (displayScheduled_)
        return;
    displayScheduled_ = true;
    // Once per pass of the event loop, however many changes came in it.
    QTimer::singleShot(0, [this, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.lock())
            displayIfNeeded();
    });
}

void ImageCaptureCrosshairOverlayWindow::displayIfNeeded() {
    displayScheduled_ = false;
    if (!view_ || !visible_)
        return;
    // The pointer is read now, not taken from the last event: the crosshair is where the pointer is.
    OverlayFrame next = makeOverlayFrame(view_->drawState(), mouseLocationOutsideOfEventStream(),
                                         geometry_.boundsSize(), badgeSize_, ignoresMouse_, screenRects_);
    std::vector<QRectF> damage = painted_ ? overlayFrameDamage(*painted_, next)
                                          : std::vector<QRectF>{QRectF(QPointF(0, 0), next.bounds)};
    damage.insert(damage.end(), pendingRects_.begin(), pendingRects_.end());
    pendingRects_.clear();
    const bool shapeChanged =
        ignoresMouse_ && (!painted_ || painted_->outline != next.outline || painted_->hole != next.hole ||
                          painted_->timerRect != next.timerRect ||
                          painted_->timerImage.cacheKey() != next.timerImage.cacheKey());
    painted_ = std::move(next);
    for (std::size_t i = 0; i < windows_.size(); ++i) {
        const QRectF part = geometry_.partRect(i);
        std::vector<QRectF> rects;
        for (const QRectF& r : damage) {
            // Whole points, so that every scale's pixels are covered completely.
            const QRectF cut = QRectF(r.toAlignedRect()).intersected(part);
            if (!cut.isEmpty())
                rects.push_back(cut);
        }
        if (!rects.empty())
            paintPart(i, rects);
    }
    if (shapeChanged)
        updateVisibleRegions();
}

void ImageCaptureCrosshairOverlayWindow::exposed(std::size_t part) {
    if (!visible_)
        return;
    if (!painted_)
        displayIfNeeded();
    else
        paintPart(part, {geometry_.partRect(part)});
}

void ImageCaptureCrosshairOverlayWindow::paintPart(std::size_t part,
                                                   const std::vector<QRectF>& overlayRects) {
    PartWindow& w = *windows_[part];
    if (!w.isExposed() || !painted_)
        return;
    const QPointF origin = geometry_.partRect(part).topLeft();
    QRegion region;
    for (const QRectF& r : overlayRects)
        region += r.translated(-origin).toAlignedRect();
    QBackingStore& store = w.backingStore();
    if (store.size() != w.size())
        store.resize(w.size());
    store.beginPaint(region);
    {
        QPainter painter(store.paintDevice());
        renderer_.paint(painter, *painted_, origin, geometry_.parts()[part].scale, backdrops_[part],
                        overlayRects);
    }
    store.endPaint();
    store.flush(region);
}

void ImageCaptureCrosshairOverlayWindow::mouseEvent(std::size_t part, QMouseEvent* e) {
    if (!view_ || ignoresMouse_)
        return;
    const QPointF display = geometry_.displayPointFromPartLocal(part, e->position());
    const CGPoint location = geometry_.viewPointFromDisplay(display);
    // The view may end the capture and let go of this window inside any of these calls: nothing of
    // the window is touched after them.
    OverlayContentView* view = view_;
    switch (e->type()) {
    case QEvent::MouseButtonPress:
        if (e->button() != Qt::LeftButton)
            return;
        // A click gives the keyboard back to the overlay, so that Escape reaches it.
        if (canBecomeKey_ && !windows_[part]->isActive())
            windows_[part]->requestActivate();
        lastMouse_ = location;
        view->mouseDown(location);
        break;
    case QEvent::MouseMove:
        if (e->buttons() & Qt::LeftButton) {
            const CGPoint previous = lastMouse_;
            lastMouse_ = location;
            view->mouseDragged(location, location.x - previous.x, previous.y - location.y);
        } else {
            lastMouse_ = location;
            view->mouseMoved(location);
        }
        break;
    case QEvent::MouseButtonRelease:
        if (e->button() != Qt::LeftButton)
            return;
        lastMouse_ = location;
        view->mouseUp(location);
        break;
    default:
        break;
    }
}

void ImageCaptureCrosshairOverlayWindow::keyReleased(QKeyEvent* e) {
    // Escape cancels on its release; other keys, and repeats of a held key, do nothing.
    if (e->key() != Qt::Key_Escape || e->isAutoRepeat() || !canBecomeKey_ || !escapeHandler_)
        return;
    const std::function<void()> handler = escapeHandler_;
    handler();
}

void ImageCaptureCrosshairOverlayWindow::updateVisibleRegions() {
    for (std::size_t i = 0; i < windows_.size(); ++i) {
        std::optional<QRegion> region;
        if (ignoresMouse_ && painted_) {
            // The countdown digit (its opaque pixels) and the outline; the live desktop elsewhere.
            region = QRegion();
            const OverlayFrame& f = *painted_;
            if (!f.timerImage.isNull()) {
                const QRect target = geometry_.partNativeRectFromOverlay(i, f.timerRect);
                const QImage mask = f.timerImage.scaled(target.size())
                                        .createAlphaMask(Qt::ThresholdAlphaDither | Qt::MonoOnly);
                region = *region + QRegion(QBitmap::fromImage(mask)).translated(target.topLeft());
            }
            if (f.outline)
                for (const QRectF& r : outlineRects(f.hole))
                    region = *region + geometry_.partNativeRectFromOverlay(i, r);
            region = *region & QRect(QPoint(0, 0), geometry_.parts()[i].native.size());
        }
        if (region == visibleRegions_[i])
            continue;
        visibleRegions_[i] = region;
        desktop_.setVisibleRegion(*windows_[i], region);
    }
}
