#include "NSView.h"

#include "ScreenCoordinates.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace glimra {

namespace {

const char kAutoresizesSubviewsProperty[] = "glimraAutoresizesSubviews";

bool autoresizesSubviews(const QWidget* widget) {
    const QVariant value = widget->property(kAutoresizesSubviewsProperty);
    return !value.isValid() || value.toBool();
}

ScreenSpace mainScreenSpace() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return {screen ? QRectF(screen->geometry()) : QRectF()};
}

double roundToPixels(double v, double scale) {
    return std::round(v * scale) / scale;
}

} // namespace

NSRect NSView::centerScanRect(const NSRect& r) const {
    const double x = std::round(NSMinX(r));
    const double y = std::round(NSMinY(r));
    return NSMakeRect(x, y, std::round(NSMaxX(r)) - x, std::round(NSMaxY(r)) - y);
}

WidgetView::WidgetView(QWidget* widget) : widget_(widget) {}

WidgetView::~WidgetView() = default;

NSRect WidgetView::frame() const {
    if (!widget_)
        return NSZeroRect;
    const QWidget* parent = widget_->isWindow() ? nullptr : widget_->parentWidget();
    if (!parent)
        return NSMakeRect(0, 0, widget_->width(), widget_->height());
    return flippedRect(QRectF(widget_->geometry()), parent->height());
}

void WidgetView::resizeWidget(QWidget* widget, QSize size) {
    const int dh = size.height() - widget->height();
    widget->resize(size);
    if (dh == 0 || autoresizesSubviews(widget))
        return;
    for (QObject* child : widget->children())
        if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow())
            w->move(w->x(), w->y() + dh);
}

void WidgetView::setFrame(const NSRect& frame) {
    if (!widget_)
        return;
    // Frames are whole points on a widget.
    const QSize size(int(std::lround(frame.size.width)), int(std::lround(frame.size.height)));
    const QWidget* parent = widget_->isWindow() ? nullptr : widget_->parentWidget();
    if (parent) {
        const QRectF qt = flippedRect(frame, parent->height());
        widget_->move(int(std::lround(qt.x())), int(std::lround(qt.y())));
    }
    resizeWidget(widget_, size);
}

bool WidgetView::isHidden() const {
    if (!widget_)
        return true;
    return widget_->isWindow() ? widget_->isHidden() : !widget_->isVisibleTo(widget_->parentWidget());
}

std::vector<NSView*> WidgetView::subviews() {
    std::vector<NSView*> views;
    if (!widget_)
        return views;
    for (QObject* child : widget_->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w || w->isWindow())
            continue;
        auto& view = subviews_[w];
        if (!view)
            view = std::make_unique<WidgetView>(w);
        views.push_back(view.get());
    }
    return views;
}

NSView* WidgetView::superview() {
    if (!widget_ || widget_->isWindow() || !widget_->parentWidget())
        return nullptr;
    if (!superview_)
        superview_ = std::make_unique<WidgetView>(widget_->parentWidget());
    return superview_.get();
}

void WidgetView::setAutoresizesSubviews(bool autoresizes) {
    if (widget_)
        widget_->setProperty(kAutoresizesSubviewsProperty, autoresizes);
}

NSRect WidgetView::centerScanRect(const NSRect& r) const {
    const double scale = widget_ ? widget_->devicePixelRatioF() : 1.0;
    const double x = roundToPixels(NSMinX(r), scale);
    const double y = roundToPixels(NSMinY(r), scale);
    return NSMakeRect(x, y, roundToPixels(NSMaxX(r), scale) - x, roundToPixels(NSMaxY(r), scale) - y);
}

std::optional<QByteArray> WidgetView::action() const {
    const QVariant action = widget_ ? widget_->property(kActionProperty) : QVariant();
    if (!action.isValid())
        return std::nullopt;
    return action.toByteArray();
}

WidgetWindow::WidgetWindow(QWidget* window, QWidget* content) : window_(window), content_(content) {}

NSRect WidgetWindow::frame() const {
    if (!window_)
        return NSZeroRect;
    const QRectF r = mainScreenSpace().screenFrameFromQt(QRectF(window_->frameGeometry()));
    return NSMakeRect(r.x(), r.y(), r.width(), r.height());
}

void WidgetWindow::setFrame(const NSRect& frame, bool display, bool) {
    if (!window_)
        return;
    // The window frame includes whatever decoration the window manager adds around the widget.
    const QMargins decoration(window_->geometry().left() - window_->frameGeometry().left(),
                              window_->geometry().top() - window_->frameGeometry().top(),
                              window_->frameGeometry().right() - window_->geometry().right(),
                              window_->frameGeometry().bottom() - window_->geometry().bottom());
    const QRect qt = mainScreenSpace()
                         .qtRectFromScreenFrame(
                             QRectF(frame.origin.x, frame.origin.y, frame.size.width, frame.size.height))
                         .toRect()
                         .marginsRemoved(decoration);
    window_->move(qt.topLeft());
    WidgetView::resizeWidget(window_, qt.size());
    if (QWidget* content = content_.widget(); content && content != window_)
        WidgetView::resizeWidget(content, qt.size());
    if (display)
        window_->update();
}

} // namespace glimra
