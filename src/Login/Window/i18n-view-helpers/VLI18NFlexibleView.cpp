#include "VLI18NFlexibleView.h"

#include "NSView+VellmoraAdditions.h"

void resizeFlexibleViewForI18N(glimra::NSView& view, const VLI18NPadding& padding,
                               const VLI18NResizeFlags& flags) {
    VLI18NHelper::resizeViewsForI18N(view.subviews());
    glimra::NSRect f = view.frame();
    const glimra::NSRect u = subviewUnionRectIgnoringHidden(view, false);
    const double neededWidth = u.origin.x + u.size.width;
    const double neededHeight = padding.top + u.size.height;
    if ((neededWidth > f.size.width && flags.expandHorizontally) ||
        (neededWidth < f.size.width && flags.shrinkHorizontally))
        f.size.width = neededWidth;
    if ((neededHeight > f.size.height && flags.expandVertically) ||
        (neededHeight < f.size.height && flags.shrinkVertically)) {
        const double dH = f.size.height - neededHeight;
        f.origin.y += dH;
        f.size.height = neededHeight;
        offsetViews(view.subviews(), size_t(-1), {0, -dH});
    }
    view.setFrame(f);
}

void VLI18NFlexibleView::resizeForI18N() {
    glimra::WidgetView view(this);
    resizeFlexibleViewForI18N(view, padding(), resizeFlags());
}
