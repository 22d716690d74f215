#pragma once
// Re-fitting interface to localized strings. Views take part by being VLI18NAware: a pass over a view
// tree sends resizeForI18N to the first aware view on each branch and leaves it to that view to
// re-fit its own subtree (containers do their subviews first, then follow them).

#include "NSView.h"

#include <vector>

class VLI18NAware {
public:
    virtual void resizeForI18N() = 0;

protected:
    ~VLI18NAware() = default;
};

// The view's part in a pass: the view itself or the widget behind it; nullptr when it takes none.
VLI18NAware* i18nAwareView(glimra::NSView& view);

class VLI18NHelper {
public:
    // An aware view re-fits itself; any other view passes the pass on to each of its subviews.
    static void resizeViewAndSubViewsForI18N(glimra::NSView& view);
    static void resizeViewsForI18N(const std::vector<glimra::NSView*>& views);

    // Left to right by x; reversed: by right edge, from the right.
    static std::vector<glimra::NSView*> viewArraySortedHorizontally(const std::vector<glimra::NSView*>& views,
                                                                    bool reverse = false);
    // Top to bottom by y (y up); reversed: by top edge, from the bottom.
    static std::vector<glimra::NSView*> viewArraySortedVertically(const std::vector<glimra::NSView*>& views,
                                                                  bool reverse = false);
};

// A pass over a whole window: its content view and everything in it.
void resizeForI18N(glimra::NSWindow& window);
