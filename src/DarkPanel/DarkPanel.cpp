#include "DarkPanel.h"

#include "Desktop.h"
#include "NSDrawing.h"
#include "ScreenCoordinates.h"
#include "panel/PanelDesktop.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <algorithm>

using glimra::NSImage;
using glimra::NSPoint;
using glimra::NSRect;

namespace {

glimra::ScreenSpace mainScreenSpace() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return {screen ? QRectF(screen->geometry()) : QRectF()};
}

NSRect nsRect(const QRectF& r) {
    return glimra::NSMakeRect(r.x(), r.y(), r.width(), r.height());
}

// The main screen's area without panels and docks, in screen coordinates; zero without a screen.
NSRect mainScreenVisibleFrame() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return glimra::NSZeroRect;
    return nsRect(mainScreenSpace().screenFrameFromQt(QRectF(screen->availableGeometry())));
}

// The device pixels where view paints itself (its subviews left out) at least half opaque: the outline
// of the box it draws.
QRegion paintedRegion(QWidget& view, double devicePixelRatio) {
    QImage image(view.size() * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    view.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    QRegion region;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width();) {
            if (qAlpha(row[x]) < 128) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < image.width() && qAlpha(row[x]) >= 128)
                ++x;
            region += QRect(start, y, x - start, 1);
        }
    }
    return region;
}

} // namespace

DarkPanelContentView::DarkPanelContentView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void DarkPanelContentView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // In a window of its own the box starts from nothing; inside another window it is drawn over what
    // that window shows beneath it.
    if (window() == parentWidget()) {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(event->rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    if (!_topLeft) {
        const auto image = [](const char* name) { return NSImage::imageNamed(QString::fromLatin1(name)); };
        _topLeft = image("dark_box_top_left");
        _topMiddle = image("dark_box_top_middle");
        _topRight = image("dark_box_top_right");
        _middleLeft = image("dark_box_middle_left");
        _middleMiddle = image("dark_box_middle_middle");
        _middleRight = image("dark_box_middle_right");
        _bottomLeft = image("dark_box_bottom_left");
        _bottomMiddle = image("dark_box_bottom_middle");
        _bottomRight = image("dark_box_bottom_right");
    }
    // The box is drawn in the view's own y-up coordinates.
    painter.translate(0, height());
    painter.scale(1, -1);
    glimra::NSDrawNinePartImage(painter, QRectF(0, 0, width(), height()), _topLeft.get(), _topMiddle.get(),
                                _topRight.get(), _middleLeft.get(), _middleMiddle.get(), _middleRight.get(),
                                _bottomLeft.get(), _bottomMiddle.get(), _bottomRight.get(),
                                QPainter::CompositionMode_SourceOver, double(0.95f), false);
}

DarkPanel::DarkPanel(const NSRect& contentRect, unsigned /*styleMask*/, QWidget* parent)
    : QWidget(parent, glimra::Desktop::current().panelWindowFlags()),
      desktop_(glimra::Desktop::current().makePanelDesktop()), contentView_(new DarkPanelContentView(this)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setGeometry(mainScreenSpace()
                    .qtRectFromScreenFrame(QRectF(contentRect.origin.x, contentRect.origin.y,
                                                  contentRect.size.width, contentRect.size.height))
                    .toRect());
    contentView_->setGeometry(rect());
}

DarkPanel::~DarkPanel() = default;

void DarkPanel::makeKeyAndOrderFront() {
    orderFrontRegardless();
    makeKeyWindow();
}

void DarkPanel::orderFrontRegardless() {
    show();
    raise();
}

void DarkPanel::makeKeyWindow() {
    activateWindow();
    if (QWidget* focus = focusWidget(); focus && focus != this)
        focus->setFocus();
    else if (initialFirstResponder_) {
        initialFirstResponder_->setFocus(Qt::TabFocusReason);
        // As Tab would: a field's text selected, ready to be typed over (the focus comes in with the
        // activation, which selects nothing).
        if (auto* field = qobject_cast<QLineEdit*>(initialFirstResponder_.data()))
            field->selectAll();
    } else
        setFocus();
}

void DarkPanel::orderOut() {
    if (!isVisible())
        return;
    // A compositing manager may fade a window out from its last picture as it unmaps, and the screen
    // may be grabbed at once: the panel is emptied first, so what fades is nothing.
    const bool empties = desktop_->showsDesktopThroughTranslucentWindows();
    if (empties) {
        contentView_->hide();
        repaint();
    }
    hide();
    if (empties) {
        contentView_->show();
        desktop_->flush();
    }
}

void DarkPanel::setAuxiliaryMouseMovedResponder(DarkPanelProtocol* responder) {
    if (responder == _auxiliaryMouseMovedResponder)
        return;
    _auxiliaryMouseMovedResponder = responder;
    setMouseTracking(responder != nullptr);
}

QRect DarkPanel::globalGeometry() const {
    return isWindow() ? geometry() : QRect(mapToGlobal(QPoint(0, 0)), size());
}

NSRect DarkPanel::frame() const {
    return nsRect(mainScreenSpace().screenFrameFromQt(QRectF(globalGeometry())));
}

void DarkPanel::setFrameOrigin(NSPoint origin) {
    const QRectF qt = mainScreenSpace().qtRectFromScreenFrame(QRectF(origin.x, origin.y, width(), height()));
    if (isWindow() || !parentWidget()) {
        move(qt.topLeft().toPoint());
        return;
    }
    // Inside another window it stays inside it: nothing outside would show.
    const QRect host = parentWidget()->rect();
    const QPoint at = parentWidget()->mapFromGlobal(qt.topLeft().toPoint());
    move(std::clamp(at.x(), host.left(), std::max(host.left(), host.right() + 1 - width())),
         std::clamp(at.y(), host.top(), std::max(host.top(), host.bottom() + 1 - height())));
}

NSPoint DarkPanel::locationInWindow(const QMouseEvent* event) const {
    const QPointF global = event->globalPosition();
    const QRect g = globalGeometry();
    return {global.x() - g.x(), g.y() + g.height() - global.y()};
}

NSPoint DarkPanel::convertPointToScreen(NSPoint p) const {
    const NSRect f = frame();
    return {f.origin.x + p.x, f.origin.y + p.y};
}

void DarkPanel::mouseDown(QMouseEvent* event) {
    _initialLocation = locationInWindow(event);
}

void DarkPanel::mouseDragged(QMouseEvent* event) {
    const NSRect visible = mainScreenVisibleFrame();
    const NSRect f = frame();
    const NSPoint location = locationInWindow(event);
    NSPoint origin{f.origin.x + (location.x - _initialLocation.x),
                   f.origin.y + (location.y - _initialLocation.y)};
    if (origin.y + f.size.height > visible.origin.y + visible.size.height)
        origin.y = visible.origin.y + (visible.size.height - f.size.height);
    setFrameOrigin(origin);
}

void DarkPanel::mouseMoved(QMouseEvent* event) {
    if (_auxiliaryMouseMovedResponder) {
        _auxiliaryMouseMovedResponder->darkPanelWindowDidMouseMove(this, event);
        return;
    }
    QWidget::mouseMoveEvent(event);
}

bool DarkPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched != windowHandle())
        return QWidget::eventFilter(watched, event);
    // No window manager gives a window that bypasses it the keyboard when it is clicked, and nothing
    // else would give it back once another window took it: a press anywhere on the panel does.
    if (event->type() == QEvent::MouseButtonPress)
        makeKeyWindow();
    // The responder hears every movement; the widgets beneath the pointer still see it too (tool
    // tips, pointer shapes).
    if (event->type() == QEvent::MouseMove && acceptsMouseMovedEvents()) {
        auto* move = static_cast<QMouseEvent*>(event);
        if (move->buttons() == Qt::NoButton)
            mouseMoved(move);
    }
    return QWidget::eventFilter(watched, event);
}

void DarkPanel::mousePressEvent(QMouseEvent* event) {
    mouseDown(event);
}

void DarkPanel::mouseMoveEvent(QMouseEvent* event) {
    // Moves without a button have reached the responder from the window already.
    if (event->buttons() & Qt::LeftButton)
        mouseDragged(event);
    else
        QWidget::mouseMoveEvent(event);
}

void DarkPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    contentView_->setGeometry(rect());
    updateWindowShape();
}

void DarkPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    hookWindow();
    // A compositing manager may have come or gone since the panel was last shown.
    updateWindowShape();
}

void DarkPanel::hookWindow() {
    QWindow* window = isWindow() ? windowHandle() : nullptr;
    if (!window || window == hookedWindow_)
        return;
    hookedWindow_ = window;
    // Widgets see moves only where they track the mouse, and presses only where they are; the window
    // sees them all, as the panel must.
    window->installEventFilter(this);
    // The outline is cut in device pixels: it follows the window onto screens of other scales.
    connect(window, &QWindow::screenChanged, this, [this](QScreen* screen) {
        followScreen(screen);
        updateWindowShape();
    });
    followScreen(window->screen());
}

void DarkPanel::followScreen(QScreen* screen) {
    // A screen's scale follows its logical resolution.
    disconnect(screenScale_);
    if (screen)
        screenScale_ =
            connect(screen, &QScreen::logicalDotsPerInchChanged, this, &DarkPanel::updateWindowShape);
}

void DarkPanel::updateWindowShape() {
    // Inside another window, or before it has a window of its own, there is nothing to cut.
    if (!isWindow() || !windowHandle())
        return;
    QWindow& window = *windowHandle();
    if (desktop_->showsDesktopThroughTranslucentWindows())
        desktop_->setVisibleRegion(window, std::nullopt);
    else
        desktop_->setVisibleRegion(window, paintedRegion(*contentView_, window.devicePixelRatio()));
    desktop_->flush();
}
