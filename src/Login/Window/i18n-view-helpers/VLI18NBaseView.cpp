#include "VLI18NBaseView.h"

#include "NSView+VellmoraAdditions.h"

VLI18NPadding paddingFromSubviews(glimra::NSView& view) {
    const glimra::NSRect u = subviewUnionRectIgnoringHidden(view, false);
    const glimra::NSSize size = view.frame().size;
    VLI18NPadding p;
    p.left = u.origin.x;
    p.bottom = u.origin.y;
    p.top = size.height - u.size.height - p.bottom;
    p.right = size.width - u.size.width - p.left;
    return p;
}

VLI18NBaseView::VLI18NBaseView(QWidget* parent) : QWidget(parent) {
    initVLI18NBaseDefaultPropertyValues();
}

void VLI18NBaseView::initVLI18NBaseDefaultPropertyValues() {
    mShrinkHorizontally = mExpandHorizontally = mShrinkVertically = mExpandVertically = true;
}

void VLI18NBaseView::awakeFromNib() {
    glimra::WidgetView view(this);
    view.setAutoresizesSubviews(false);
    initPaddingFromSubviews();
}

void VLI18NBaseView::initPaddingFromSubviews() {
    glimra::WidgetView view(this);
    const VLI18NPadding p = paddingFromSubviews(view);
    mTopPadding = p.top;
    mBottomPadding = p.bottom;
    mLeftPadding = p.left;
    mRightPadding = p.right;
}
