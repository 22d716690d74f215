#include "VLI18NBox.h"

#include "NSView+VellmoraAdditions.h"

void resizeBoxForI18N(glimra::NSView& box, glimra::NSView& contentView) {
    if (contentView.subviews().empty())
        return;
    const glimra::NSRect before = subviewUnionRectIgnoringHidden(contentView, false);
    glimra::NSRect f = box.frame();
    const double marginX = f.size.width - before.size.width;
    const double marginY = f.size.height - before.size.height;
    VLI18NHelper::resizeViewsForI18N(contentView.subviews());
    const glimra::NSRect after = subviewUnionRectIgnoringHidden(contentView, false);
    if (glimra::NSEqualRects(after, before))
        return;
    const double height = marginY + after.size.height;
    f.origin.y += f.size.height - height;
    f.size = {marginX + after.size.width, height};
    box.setFrame(f);
}

void VLI18NBox::resizeForI18N() {
    // A group box holds its content itself.
    glimra::WidgetView view(this);
    resizeBoxForI18N(view, view);
}
