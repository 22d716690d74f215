#include "VLI18NContentView.h"

#include "NSView+VellmoraAdditions.h"

void resizeContentViewForI18N(glimra::NSView& view, const VLI18NPadding& padding, glimra::NSWindow& window) {
    VLI18NHelper::resizeViewsForI18N(view.subviews());
    const glimra::NSRect u = subviewUnionRectIgnoringHidden(view, true);
    const double neededWidth = u.size.width + padding.left + padding.right;
    const double neededHeight = padding.top + u.size.height + padding.bottom;
    const glimra::NSSize size = view.frame().size;
    const glimra::NSRect w = window.frame();
    const double dH = size.height - neededHeight;
    const glimra::NSRect frame = glimra::NSMakeRect(
        w.origin.x, w.origin.y + dH, w.size.width - (size.width - neededWidth), w.size.height - dH);
    offsetViews(view.subviews(), size_t(-1), {0, -dH});
    window.setFrame(frame, true, false);
}

void VLI18NContentView::resizeForI18N() {
    glimra::WidgetView view(this);
    glimra::WidgetWindow window(this->window(), this);
    resizeContentViewForI18N(view, padding(), window);
}
