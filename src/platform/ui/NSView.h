#pragma once
// Views as layout code sees them: frames in the superview's y-up coordinates, subviews in order,
// the hidden flag. One implementation speaks for Qt widgets (WidgetView); tests make their own.
//
// Resizing a view keeps its subviews' y-up frames, so they stay at their distance from its bottom,
// unless the view autoresizes its subviews (the default), in which case they keep their distance
// from its top, as a layout pinned to the top-left does.

#include "NSGeometry.h"

#include <QByteArray>
#include <QPointer>
#include <QWidget>

#include <map>
#include <memory>
#include <optional>
#include <vector>

class QObject;

namespace glimra {

class NSView {
public:
    virtual ~NSView() = default;

    virtual NSRect frame() const = 0;
    virtual void setFrame(const NSRect& frame) = 0;
    // The view's own coordinates: its size, from the origin.
    virtual NSRect bounds() const { return {{}, frame().size}; }
    virtual bool isHidden() const = 0;
    // Valid until the view is destroyed or its subviews change.
    virtual std::vector<NSView*> subviews() = 0;
    virtual NSView* superview() = 0;
    virtual void setAutoresizesSubviews(bool) {}
    // r with its edges on whole device pixels of the view's screen.
    virtual NSRect centerScanRect(const NSRect& r) const;
    // The selector a control sends; nullopt for views that are not controls.
    virtual std::optional<QByteArray> action() const { return std::nullopt; }
    // The object behind the view (the widget), where other interfaces of it are found.
    virtual QObject* object() const { return nullptr; }

    void setFrameOrigin(NSPoint origin) { setFrame({origin, frame().size}); }
    void setFrameSize(NSSize size) { setFrame({frame().origin, size}); }
};

// The view of a widget. A top-level widget is seen as the content view of its window: its frame is
// its size at the origin. Adapters of its subviews and superview are made on demand and owned here.
class WidgetView final : public NSView {
public:
    explicit WidgetView(QWidget* widget);
    ~WidgetView() override;

    QWidget* widget() const { return widget_; }

    NSRect frame() const override;
    void setFrame(const NSRect& frame) override;
    bool isHidden() const override;
    std::vector<NSView*> subviews() override;
    NSView* superview() override;
    void setAutoresizesSubviews(bool autoresizes) override;
    NSRect centerScanRect(const NSRect& r) const override;
    std::optional<QByteArray> action() const override;
    QObject* object() const override { return widget_; }

    // Resizes widget to size (Qt coordinates) keeping the y-up frames of its subviews unless it
    // autoresizes them.
    static void resizeWidget(QWidget* widget, QSize size);

private:
    QPointer<QWidget> widget_;
    std::map<QWidget*, std::unique_ptr<WidgetView>> subviews_;
    std::unique_ptr<WidgetView> superview_;
};

// The widget property that names a control's action.
inline constexpr char kActionProperty[] = "glimraAction";

// A window: its frame in screen coordinates (y up, origin at the main screen's bottom-left).
class NSWindow {
public:
    virtual ~NSWindow() = default;
    virtual NSRect frame() const = 0;
    virtual void setFrame(const NSRect& frame, bool display, bool animate) = 0;
    virtual NSView* contentView() = 0;
};

// The window of a top-level widget; its content view is content, a widget filling the window, or the
// top-level widget itself.
class WidgetWindow final : public NSWindow {
public:
    WidgetWindow(QWidget* window, QWidget* content);
    NSRect frame() const override;
    void setFrame(const NSRect& frame, bool display, bool animate) override;
    NSView* contentView() override { return &content_; }

private:
    QPointer<QWidget> window_;
    WidgetView content_;
};

} // namespace glimra
