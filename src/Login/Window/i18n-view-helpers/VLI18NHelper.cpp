#include "VLI18NHelper.h"

#include <algorithm>

using glimra::NSView;

VLI18NAware* i18nAwareView(NSView& view) {
    if (auto* aware = dynamic_cast<VLI18NAware*>(&view))
        return aware;
    return dynamic_cast<VLI18NAware*>(view.object());
}

void VLI18NHelper::resizeViewAndSubViewsForI18N(NSView& view) {
    if (VLI18NAware* aware = i18nAwareView(view)) {
        aware->resizeForI18N();
        return;
    }
    for (NSView* subview : view.subviews())
        resizeViewAndSubViewsForI18N(*subview);
}

void VLI18NHelper::resizeViewsForI18N(const std::vector<NSView*>& views) {
    for (NSView* view : views)
        resizeViewAndSubViewsForI18N(*view);
}

std::vector<NSView*> VLI18NHelper::viewArraySortedHorizontally(const std::vector<NSView*>& views,
                                                               bool reverse) {
    std::vector<NSView*> sorted = views;
    if (reverse)
        std::stable_sort(sorted.begin(), sorted.end(), [](NSView* a, NSView* b) {
            return glimra::NSMaxX(a->frame()) > glimra::NSMaxX(b->frame());
        });
    else
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](NSView* a, NSView* b) { return a->frame().origin.x < b->frame().origin.x; });
    return sorted;
}

std::vector<NSView*> VLI18NHelper::viewArraySortedVertically(const std::vector<NSView*>& views,
                                                             bool reverse) {
    std::vector<NSView*> sorted = views;
    if (reverse)
        std::stable_sort(sorted.begin(), sorted.end(), [](NSView* a, NSView* b) {
            return glimra::NSMaxY(a->frame()) < glimra::NSMaxY(b->frame());
        });
    else
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](NSView* a, NSView* b) { return a->frame().origin.y > b->frame().origin.y; });
    return sorted;
}

void resizeForI18N(glimra::NSWindow& window) {
    if (NSView* content = window.contentView())
        VLI18NHelper::resizeViewAndSubViewsForI18N(*content);
}
