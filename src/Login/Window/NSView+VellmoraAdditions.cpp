#include "NSView+VellmoraAdditions.h"

#include <algorithm>

using glimra::NSRect;
using glimra::NSView;

NSView* firstVisibleViewIn(const std::vector<NSView*>& views, size_t* index) {
    for (size_t i = 0; i < views.size(); ++i) {
        if (!views[i]->isHidden()) {
            if (index)
                *index = i;
            return views[i];
        }
    }
    return nullptr;
}

NSRect subviewUnionRectIgnoringHidden(NSView& view, bool ignoreHidden) {
    const std::vector<NSView*> subviews = view.subviews();
    if (subviews.empty())
        return glimra::NSZeroRect;
    size_t start = 0;
    if (!ignoreHidden && !firstVisibleViewIn(subviews, &start))
        return glimra::NSZeroRect;
    NSRect u = subviews[start]->frame();
    for (size_t i = start + 1; i < subviews.size(); ++i)
        if (ignoreHidden || !subviews[i]->isHidden())
            u = glimra::NSUnionRect(u, subviews[i]->frame());
    return u;
}

void offsetViews(const std::vector<NSView*>& views, size_t afterIndex, glimra::NSSize byOffset) {
    // Unsigned on purpose: the all-ones index wraps round to 0 and so moves every view.
    for (size_t i = afterIndex + 1; i < views.size(); ++i) {
        NSRect f = views[i]->frame();
        f.origin.x += byOffset.width;
        f.origin.y += byOffset.height;
        views[i]->setFrame(f);
    }
}

void makeFrameTaller(NSView& view, double delta, glimra::NSRectEdge fixingEdge) {
    const NSRect f = view.frame();
    view.setFrameSize({f.size.width, f.size.height + delta});
    if (fixingEdge == glimra::NSMaxYEdge)
        moveFrameDown(view, delta);
}

void makeFrameWider(NSView& view, double delta, glimra::NSRectEdge fixingEdge) {
    const NSRect f = view.frame();
    view.setFrameSize({f.size.width + delta, f.size.height});
    if (fixingEdge == glimra::NSMaxXEdge)
        moveFrameLeft(view, delta);
}

void moveFrameDown(NSView& view, double delta) {
    const NSRect f = view.frame();
    view.setFrameOrigin({f.origin.x, f.origin.y - delta});
}

void moveFrameRight(NSView& view, double delta) {
    const NSRect f = view.frame();
    view.setFrameOrigin({f.origin.x + delta, f.origin.y});
}

void moveFrameLeft(NSView& view, double delta) {
    moveFrameRight(view, -delta);
}

NSView* viewPassingTest(NSView& view, const std::function<bool(NSView&)>& test) {
    if (test(view))
        return &view;
    for (NSView* subview : view.subviews())
        if (NSView* found = viewPassingTest(*subview, test))
            return found;
    return nullptr;
}

NSView* viewWithAction(NSView& view, const QByteArray& selector) {
    return viewPassingTest(view, [&](NSView& v) { return v.action() == selector; });
}

void centerInSuperviewHorizontally(NSView& view, bool horizontally, bool vertically) {
    const NSView* superview = view.superview();
    if (!superview)
        return;
    const glimra::NSSize s = superview->frame().size;
    NSRect f = view.frame();
    if (horizontally)
        f.origin.x = (s.width - f.size.width) * 0.5;
    if (vertically)
        f.origin.y = (s.height - f.size.height) * 0.5;
    view.setFrame(view.centerScanRect(f));
}

void centerInSuperview(NSView& view) {
    centerInSuperviewHorizontally(view, true, true);
}

void placeAdjacentToView(NSView& view, NSView& other, glimra::NSRectEdge edge, double margin) {
    const NSRect o = other.frame();
    const NSRect f = view.frame();
    glimra::NSPoint origin = f.origin;
    switch (edge) {
    case glimra::NSMinXEdge:
        origin.x = o.origin.x - (margin + f.size.width);
        break;
    case glimra::NSMinYEdge:
        origin.y = o.origin.y - (margin + f.size.height);
        break;
    case glimra::NSMaxXEdge:
        origin.x = o.origin.x + o.size.width + margin;
        break;
    case glimra::NSMaxYEdge:
        origin.y = o.origin.y + o.size.height + margin;
        break;
    default:
        break;
    }
    view.setFrameOrigin(origin);
}

void workaroundForLayoutBug(NSView& view) {
    NSView* superview = view.superview();
    if (!superview)
        return;
    const NSRect b = superview->bounds();
    NSRect f = view.frame();
    if (b.size.width - f.size.width > 0) {
        f.origin.x = std::max(0.0, (b.size.width - f.size.width) * 0.5 + b.origin.x);
        view.setFrame(glimra::NSIntegralRect(f));
    }
}
