#include "ImageCaptureCrosshairOverlayWindow.h"

#include "display/WindowServer.h"
#include "overlay/OverlayDesktop.h"

#include <QBitmap>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cmath>

// One window of the overlay: a part of the desktop at one scale. The overlay decides what to paint
// and when (repaint paints at once); the window hands its events to the overlay. A panel that belongs
// to the overlay may live inside it, where the display server cannot place it above the overlay.
class ImageCaptureCrosshairOverlayWindow::PartWindow : public QWidget {
public:
    PartWindow(ImageCaptureCrosshairOverlayWindow& owner, std::size_t index, Qt::WindowFlags flags)
        : QWidget(nullptr, flags), owner_(&owner), index_(index) {
        setAttribute(Qt::WA_NoSystemBackground);
        setMouseTracking(true);
    }

    // Paints the next paint event the window's whole area transparent (to be emptied before unmapping).
    void setCleared(bool cleared) { cleared_ = cleared; }
    // Drawn on a surface of the display server's own: the window never shows itself, so it paints
    // nothing of its own into Qt's buffer (a full frame of a 3840x2160 output nobody sees), only onto the
    // surface's painter.
    void setDrawnOnSurface() { drawnOnSurface_ = true; }
    void paintOnto(QPainter& painter, const QRegion& region) {
        drawing_ = true;
        render(&painter, region.boundingRect().topLeft(), region, QWidget::DrawChildren);
        drawing_ = false;
    }
    // Events that arrive after the overlay let go of the window go nowhere.
    void detach() { owner_ = nullptr; }

protected:
    void paintEvent(QPaintEvent* e) override {
        if (drawnOnSurface_ && !drawing_)
            return;
        QPainter painter(this);
        if (cleared_ || !owner_) {
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.fillRect(e->rect(), Qt::transparent);
            return;
        }
        owner_->paintPart(index_, painter, e->region());
    }
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
    bool cleared_ = false;
    bool drawnOnSurface_ = false;
    bool drawing_ = false;
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
    : desktop_(desktop),
      geometry_(desktop.screens(), desktop.windowsSpanScreens(), desktop.laysScreensOutInPoints()),
      renderer_(std::move(imagesDir)), badgeSize_(renderer_.badgeSize()), composited_(desktop.composites()),
      shapes_(desktop.shapesWindows()) {
    for (const glimra::ScreenGeometry& screen : geometry_.screens())
        screenRects_.push_back(screen.points.translated(-geometry_.bounds().topLeft()));
    const QPointF qtOrigin = glimra::WindowServer::globalDisplayOrigin();
    const glimra::OverlayDesktop::WindowStyle style = desktop_.overlayWindowStyle();
    fullScreen_ = style.fullScreen;
    for (std::size_t i = 0; i < geometry_.parts().size(); ++i) {
        const CrosshairOverlayPart& part = geometry_.parts()[i];
        std::unique_ptr<PartWindow, PartWindowDeleter> w(new PartWindow(*this, i, style.flags));
        // Where the display server places a window by its screen alone, the geometry says which.
        w->setGeometry(part.points.translated(qtOrigin).toAlignedRect());
        w->setWindowTitle(QStringLiteral("Crosshair capture"));
        PartWindow* window = w.get();
        std::unique_ptr<glimra::OverlaySurface> surface = desktop_.makeOverlaySurface(
            *w, part.screenName,
            [window](QPainter& painter, const QRegion& region) { window->paintOnto(painter, region); },
            [this, alive = std::weak_ptr<bool>(alive_)](const QString& why) {
                if (alive.lock())
                    fail(why);
            });
        // Drawn on the display server's own surface, the window never shows itself.
        if (surface) {
            w->setAttribute(Qt::WA_DontShowOnScreen);
            w->setDrawnOnSurface();
        } else if (composited_) {
            w->setAttribute(Qt::WA_TranslucentBackground);
        }
        w->winId();
        if (QScreen* screen = screenNamed(part.screenName))
            w->windowHandle()->setScreen(screen);
        windows_.push_back(std::move(w));
        surfaces_.push_back(std::move(surface));
    }
    backdrops_.resize(windows_.size());
    visibleRegions_.resize(windows_.size());
    screenWatch_ = desktop_.observeScreenChanges([this] { screensMayHaveChanged(); });
}

ImageCaptureCrosshairOverlayWindow::~ImageCaptureCrosshairOverlayWindow() {
    *alive_ = false;
    // A panel living inside one of the windows belongs to its controller, not to the window.
    keepPanelAbove(nullptr);
    // Before the windows they show.
    surfaces_.clear();
}

std::vector<QWindow*> ImageCaptureCrosshairOverlayWindow::windows() const {
    std::vector<QWindow*> out;
    for (const auto& w : windows_)
        out.push_back(w->windowHandle());
    return out;
}

void ImageCaptureCrosshairOverlayWindow::setContentView(OverlayContentView* view) {
    view_ = view;
    painted_.reset();
    scheduleDisplay();
}

void ImageCaptureCrosshairOverlayWindow::orderFrontRegardless() {
    if (!snapshot_) {
        if (!snapshotAsked_) {
            snapshotAsked_ = true;
            // Taken before anything of the overlay shows: what the user sees is what a capture cuts. The
            // overlay shows once it is there, at once or, from a desktop portal, seconds later.
            desktop_.takeSnapshot([this, alive = std::weak_ptr<bool>(alive_)](
                                      std::shared_ptr<const glimra::DesktopSnapshot> snapshot) {
                if (alive.lock())
                    snapshotTaken(std::move(snapshot));
            });
        }
        if (!snapshot_) {
            wantsFront_ = true;
            return;
        }
    }
    // The first frame is painted whole, as each window is exposed.
    painted_.reset();
    visible_ = true;
    if (pictures_) {
        // Counting down where windows keep the clicks: only the pictures show.
        scheduleDisplay();
        return;
    }
    updateVisibleRegions();
    for (std::size_t i = 0; i < windows_.size(); ++i) {
        PartWindow& w = *windows_[i];
        if (surfaces_[i]) {
            w.show();
            surfaces_[i]->show();
            continue;
        }
        if (fullScreen_)
            w.showFullScreen();
        else
            w.show();
        w.raise();
    }
    if (panel_ && panel_->isVisible())
        panel_->raise();
    if (wantsKey_) {
        wantsKey_ = false;
        makeKeyWindow();
    }
    shownOnce_.assign(windows_.size(), false);
    watchShown(++showGeneration_, QDeadlineTimer(kOverlayShowTimeoutMs));
}

// A part counts as shown once it was: a desktop that stops calling a still window's frames (GNOME's)
// has Qt report it unexposed while it still shows.
void ImageCaptureCrosshairOverlayWindow::watchShown(int generation, QDeadlineTimer deadline) {
    if (!visible_ || pictures_ || generation != showGeneration_)
        return;
    std::optional<std::size_t> missing;
    for (std::size_t i = 0; i < windows_.size() && i < shownOnce_.size(); ++i) {
        const QWindow* handle = windows_[i]->windowHandle();
        if (!shownOnce_[i])
            shownOnce_[i] = surfaces_[i] ? surfaces_[i]->isShown() : handle && handle->isExposed();
        if (!shownOnce_[i] && !missing)
            missing = i;
    }
    if (!missing)
        return;
    if (deadline.hasExpired())
        return fail(QStringLiteral("the overlay did not come on the screen %1 within %2 s")
                        .arg(geometry_.parts()[*missing].screenName)
                        .arg(kOverlayShowTimeoutMs / 1000.0));
    QTimer::singleShot(50, [this, generation, deadline, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.lock())
            watchShown(generation, deadline);
    });
}

void ImageCaptureCrosshairOverlayWindow::fail(const QString& why) {
    if (const std::function<void(const QString&)> handler = std::exchange(failedHandler_, nullptr))
        handler(why);
}

void ImageCaptureCrosshairOverlayWindow::snapshotTaken(
    std::shared_ptr<const glimra::DesktopSnapshot> snapshot) {
    if (!snapshot) {
        // Logged where it failed; nothing can be shown or cut without it.
        fail(QStringLiteral("no picture of the desktop could be taken"));
        return;
    }
    snapshot_ = std::move(snapshot);
    for (std::size_t i = 0; i < windows_.size(); ++i)
        backdrops_[i] = snapshot_->nativePixels(geometry_.parts()[i].native);
    if (std::exchange(wantsFront_, false))
        orderFrontRegardless();
}

void ImageCaptureCrosshairOverlayWindow::makeKeyWindow() {
    if (!canBecomeKey_ || windows_.empty())
        return;
    if (!visible_) {
        // Shown once the desktop's picture is there: the keyboard comes with it.
        wantsKey_ = wantsFront_;
        return;
    }
    const std::size_t part = partIndexUnderPointer();
    if (surfaces_[part])
        surfaces_[part]->takeKeyboard();
    else
        windows_[part]->activateWindow();
}

std::size_t ImageCaptureCrosshairOverlayWindow::partIndexUnderPointer() const {
    // The part under the pointer, so that its screen is the one the keyboard seems to be on.
    std::size_t target = 0;
    const QPointF pointer = pointerInQt();
    for (std::size_t i = 0; i < windows_.size(); ++i)
        if (QRectF(windows_[i]->geometry()).contains(pointer))
            target = i;
    return target;
}

ImageCaptureCrosshairOverlayWindow::PartWindow* ImageCaptureCrosshairOverlayWindow::partUnderPointer() const {
    return windows_[partIndexUnderPointer()].get();
}

QPointF ImageCaptureCrosshairOverlayWindow::pointerInQt() const {
    return desktop_.pointerPosition().value_or(QPointF(QCursor::pos()));
}

void ImageCaptureCrosshairOverlayWindow::orderOut() {
    wantsFront_ = wantsKey_ = false;
    if (!visible_)
        return;
    visible_ = false;
    if (pictures_)
        for (const CrosshairOverlayPart& part : geometry_.parts())
            desktop_.showClickThroughPicture(part.screenName, QImage());
    // A compositing manager may fade a window out from its last picture as it unmaps, while the screen
    // is grabbed: that picture is made empty first, so nothing of the overlay fades into the grab. The
    // display server's own surfaces go at once.
    if (composited_)
        for (std::size_t i = 0; i < windows_.size(); ++i)
            if (!surfaces_[i]) {
                windows_[i]->setCleared(true);
                windows_[i]->repaint();
                windows_[i]->setCleared(false);
            }
    for (std::size_t i = 0; i < windows_.size(); ++i) {
        if (surfaces_[i])
            surfaces_[i]->hide();
        windows_[i]->hide();
    }
    // Gone from the screen before the caller grabs it.
    desktop_.sync();
}

void ImageCaptureCrosshairOverlayWindow::setIgnoresMouseEvents(bool ignores) {
    if (ignores == ignoresMouse_)
        return;
    ignoresMouse_ = ignores;
    if (ignores && !desktop_.windowsPassClicksThrough()) {
        // The windows would keep the clicks: they go, and what must show is shown without them.
        pictures_ = true;
        for (auto& w : windows_)
            w->hide();
        painted_.reset();
    }
    for (std::size_t i = 0; i < windows_.size(); ++i)
        if (surfaces_[i])
            surfaces_[i]->setPassesClicksThrough(ignores);
        else if (QWindow* handle = windows_[i]->windowHandle())
            desktop_.setPassesClicksThrough(*handle, ignores);
    // The outline comes and goes with it.
    scheduleDisplay();
    updateVisibleRegions();
}

void ImageCaptureCrosshairOverlayWindow::setCanBecomeKeyWindow(bool can) {
    canBecomeKey_ = can;
}

void ImageCaptureCrosshairOverlayWindow::keepPanelAbove(QWidget* panel) {
    if (panel_ && panel_ != panel && hostsPanel_) {
        // Back to a window of its own, hidden: its controller lets go of it. Qt leaves the window it
        // leaves pointing at the field that had the keyboard; once the panel is gone, a late activation
        // of that window (Wayland sends them after the fact) would follow a dangling pointer.
        if (QWidget* field = panel_->focusWidget())
            field->clearFocus();
        panel_->hide();
        panel_->setParent(nullptr, savedPanelFlags_);
    }
    panel_ = panel;
    hostsPanel_ = false;
    if (!panel || windows_.empty())
        return;
    if (desktop_.placesWindowsAnywhere()) {
        // It belongs to the overlay (WM_TRANSIENT_FOR), as a dialog belongs to its window.
        panel->winId();
        panel->windowHandle()->setTransientParent(windows_.front()->windowHandle());
        return;
    }
    // Inside the window of the screen the pointer is on: the only place it can be shown at. Drawn on a
    // surface of the display server's own, that window takes the keys, wherever the capture began.
    savedPanelFlags_ = panel->windowFlags();
    const std::size_t part = partIndexUnderPointer();
    panel->setParent(windows_[part].get(), Qt::Widget);
    hostsPanel_ = true;
    if (surfaces_[part])
        surfaces_[part]->takeKeyboard();
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
    return geometry_.viewPointFromDisplay(pointerInQt() - glimra::WindowServer::globalDisplayOrigin());
}

glimra::WindowNumber ImageCaptureCrosshairOverlayWindow::windowNumber() const {
    return windows_.empty() ? glimra::kNoWindow : desktop_.windowNumberOf(*windows_.front()->windowHandle());
}

bool ImageCaptureCrosshairOverlayWindow::ownsWindowNumber(glimra::WindowNumber number) const {
    for (const auto& w : windows_)
        if (number != glimra::kNoWindow && desktop_.windowNumberOf(*w->windowHandle()) == number)
            return true;
    return false;
}

void ImageCaptureCrosshairOverlayWindow::setCursor(CursorShape shape) {
    const QCursor cursor(shape == CursorShape::OpenHand     ? Qt::OpenHandCursor
                         : shape == CursorShape::ClosedHand ? Qt::ClosedHandCursor
                                                            : Qt::ArrowCursor);
    for (std::size_t i = 0; i < windows_.size(); ++i) {
        windows_[i]->setCursor(cursor);
        if (surfaces_[i])
            surfaces_[i]->setCursor(cursor.shape());
    }
    if (panel_)
        panel_->setCursor(cursor);
}

void ImageCaptureCrosshairOverlayWindow::setEscapeKeyUpHandler(std::function<void()> handler) {
    escapeHandler_ = std::move(handler);
}

QImage ImageCaptureCrosshairOverlayWindow::createImageOfRectAsShown(const QRectF& rect) const {
    return snapshot_ ? snapshot_->imageOfRect(rect) : QImage();
}

std::optional<std::vector<glimra::WindowInfo>> ImageCaptureCrosshairOverlayWindow::windowsAsShown() const {
    return snapshot_ ? snapshot_->windows() : std::nullopt;
}

QImage ImageCaptureCrosshairOverlayWindow::createImageOfWindowAsShown(glimra::WindowNumber number,
                                                                      const QRectF& bounds) const {
    // Where the display server keeps the window's own pixels they are its true picture, also where
    // other windows cover it; elsewhere it is cut from what the user saw.
    const QImage own = desktop_.imageOfWindowContents(number);
    return own.isNull() ? createImageOfRectAsShown(bounds) : own;
}

void ImageCaptureCrosshairOverlayWindow::setScreensChangedHandler(std::function<void()> handler) {
    screensChangedHandler_ = std::move(handler);
}

void ImageCaptureCrosshairOverlayWindow::setFailedHandler(std::function<void(const QString&)> handler) {
    failedHandler_ = std::move(handler);
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
    // Where the windows cannot be cut to the countdown's digit and outline, all else of them is clear.
    next.bare = ignoresMouse_ && ((!shapes_ && composited_) || pictures_);
    std::vector<QRectF> damage = painted_ ? overlayFrameDamage(*painted_, next)
                                          : std::vector<QRectF>{QRectF(QPointF(0, 0), next.bounds)};
    damage.insert(damage.end(), pendingRects_.begin(), pendingRects_.end());
    pendingRects_.clear();
    const bool shapeChanged =
        ignoresMouse_ && (!painted_ || painted_->outline != next.outline || painted_->hole != next.hole ||
                          painted_->timerRect != next.timerRect ||
                          painted_->timerImage.cacheKey() != next.timerImage.cacheKey());
    painted_ = std::move(next);
    if (pictures_) {
        if (!damage.empty())
            showPictures();
        return;
    }
    for (std::size_t i = 0; i < windows_.size(); ++i) {
        const QRectF part = geometry_.partRect(i);
        std::vector<QRectF> rects;
        for (const QRectF& r : damage) {
            // Whole points, so that every scale's pixels are covered completely.
            const QRectF cut = QRectF(r.toAlignedRect()).intersected(part);
            if (!cut.isEmpty())
                rects.push_back(cut);
        }
        if (rects.empty())
            continue;
        const QPointF origin = part.topLeft();
        QRegion region;
        for (const QRectF& r : rects)
            region += r.translated(-origin).toAlignedRect();
        // Painted at once: the pointer moves on.
        if (surfaces_[i])
            surfaces_[i]->display(region);
        else
            windows_[i]->repaint(region);
    }
    if (shapeChanged)
        updateVisibleRegions();
}

void ImageCaptureCrosshairOverlayWindow::showPictures() {
    for (std::size_t i = 0; i < geometry_.parts().size(); ++i) {
        const CrosshairOverlayPart& part = geometry_.parts()[i];
        QImage picture(part.native.size(), QImage::Format_ARGB32_Premultiplied);
        picture.setDevicePixelRatio(part.scale);
        picture.fill(Qt::transparent);
        {
            QPainter painter(&picture);
            renderer_.paint(painter, *painted_, geometry_.partRect(i).topLeft(), part.scale, QImage(),
                            {geometry_.partRect(i)});
        }
        desktop_.showClickThroughPicture(part.screenName, picture);
    }
}

void ImageCaptureCrosshairOverlayWindow::paintPart(std::size_t part, QPainter& painter,
                                                   const QRegion& region) {
    if (!painted_ && visible_ && view_) {
        // Shown before the first frame was worked out: it is the whole frame.
        displayScheduled_ = false;
        painted_ = makeOverlayFrame(view_->drawState(), mouseLocationOutsideOfEventStream(),
                                    geometry_.boundsSize(), badgeSize_, ignoresMouse_, screenRects_);
        painted_->bare = ignoresMouse_ && !shapes_ && composited_;
    }
    if (!painted_) {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(region.boundingRect(),
                         backdrops_[part].isNull() ? QColor(Qt::transparent) : QColor(Qt::black));
        return;
    }
    const QPointF origin = geometry_.partRect(part).topLeft();
    std::vector<QRectF> overlayRects;
    for (const QRect& r : region)
        overlayRects.push_back(QRectF(r).translated(origin));
    renderer_.paint(painter, *painted_, origin, geometry_.parts()[part].scale, backdrops_[part],
                    overlayRects);
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
        if (canBecomeKey_ && surfaces_[part])
            surfaces_[part]->takeKeyboard();
        else if (canBecomeKey_ && !windows_[part]->isActiveWindow())
            windows_[part]->activateWindow();
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
    if (!shapes_)
        return;
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
        if (QWindow* handle = windows_[i]->windowHandle())
            desktop_.setVisibleRegion(*handle, region);
    }
}
