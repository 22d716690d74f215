// Frame arithmetic of the localization views, over views of the test's own that behave as y-up views
// do: resizing a view leaves its subviews' frames alone.

#include "NSView+VellmoraAdditions.h"
#include "VLI18NBox.h"
#include "VLI18NButton.h"
#include "VLI18NContentView.h"
#include "VLI18NFlexibleView.h"
#include "VLI18NHelper.h"
#include "VLI18NTextField.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace glimra;

namespace {

struct FakeView : NSView {
    explicit FakeView(NSRect f = {}, bool hidden = false) : f(f), hidden(hidden) {}
    NSRect frame() const override { return f; }
    void setFrame(const NSRect& r) override { f = r; }
    bool isHidden() const override { return hidden; }
    std::vector<NSView*> subviews() override {
        std::vector<NSView*> v;
        for (auto& c : children)
            v.push_back(c.get());
        return v;
    }
    NSView* superview() override { return parent; }

    template <typename V = FakeView> V& add(NSRect r = {}, bool isHidden = false) {
        children.push_back(std::make_unique<V>(r, isHidden));
        children.back()->parent = this;
        return static_cast<V&>(*children.back());
    }

    NSRect f;
    bool hidden;
    FakeView* parent = nullptr;
    std::vector<std::unique_ptr<FakeView>> children;
};

// Takes part in localization passes, applying its own change.
struct AwareView : FakeView, VLI18NAware {
    using FakeView::FakeView;
    void resizeForI18N() override {
        if (change)
            change(*this);
    }
    std::function<void(AwareView&)> change;
};

struct FakeWindow : NSWindow {
    NSRect frame() const override { return f; }
    void setFrame(const NSRect& r, bool, bool) override { f = r; }
    NSView* contentView() override { return content; }
    NSRect f;
    NSView* content = nullptr;
};

} // namespace

TEST(LocalizationViews, ButtonsGrowToTheirTitleButNeverBelowTheLaidOutWidth) {
    const NSRect f = NSMakeRect(100, 10, 80, 24);
    EXPECT_EQ(buttonFrameForI18N(f, 80, 61.2, false), f);
    EXPECT_EQ(buttonFrameForI18N(f, 80, 95.3, false), NSMakeRect(100, 10, 96, 24));
    EXPECT_EQ(buttonFrameForI18N(f, 80, 95.3, true), NSMakeRect(84, 10, 96, 24));
    EXPECT_EQ(buttonFrameForI18N(NSMakeRect(100, 10, 120, 24), 80, 61.2, true), NSMakeRect(140, 10, 80, 24));
}

TEST(LocalizationViews, TextFieldsFollowTheirTextWhereTheirFlagsAllow) {
    const NSRect line = NSMakeRect(5, 5, 100, 17);
    EXPECT_EQ(textFieldFrameForI18N(line, false, {60.2, 17}, true, true), NSMakeRect(5, 5, 61, 17));
    EXPECT_EQ(textFieldFrameForI18N(line, false, {60.2, 17}, false, true), line);
    EXPECT_EQ(textFieldFrameForI18N(line, false, {140, 17}, false, true), NSMakeRect(5, 5, 140, 17));
    // Three lines that now need two: shorter only when allowed, and then the top edge stays at 56.
    const NSRect wrapping = NSMakeRect(5, 5, 100, 51);
    EXPECT_EQ(textFieldFrameForI18N(wrapping, true, {100, 33.5}, true, true), NSMakeRect(5, 22, 100, 34));
    EXPECT_EQ(textFieldFrameForI18N(wrapping, true, {100, 33.5}, true, false), wrapping);
}

TEST(LocalizationViews, BoxesKeepTheirMarginsAroundVisibleContentAndTheirTopEdge) {
    FakeView box(NSMakeRect(10, 10, 130, 73));
    FakeView& content = box.add(NSMakeRect(0, 0, 130, 73));
    AwareView& button = content.add<AwareView>(NSMakeRect(7, 5, 80, 24));
    content.add(NSMakeRect(0, 0, 500, 500), true);
    resizeBoxForI18N(box, content);
    EXPECT_EQ(box.f, NSMakeRect(10, 10, 130, 73)) << "an unchanged union keeps the odd margins";

    button.change = [](AwareView& v) {
        v.f.size.width += 16;
        v.f.size.height += 10;
    };
    resizeBoxForI18N(box, content);
    EXPECT_EQ(box.f, NSMakeRect(10, 0, 146, 83));
}

TEST(LocalizationViews, TheWindowFollowsItsContentViewKeepingItsTopEdge) {
    FakeView content(NSMakeRect(0, 0, 200, 120));
    AwareView& label = content.add<AwareView>(NSMakeRect(20, 60, 100, 20));
    content.add(NSMakeRect(20, 20, 60, 20), true);
    const VLI18NPadding padding{20, 20, 20, 80};
    FakeWindow window;
    window.f = NSMakeRect(300, 400, 200, 120);
    label.change = [](AwareView& v) { v.f.size.width += 50; };
    resizeContentViewForI18N(content, padding, window);
    // Needs 150 + 100 wide and 20 + 60 + 20 high: 20 lower, its top still at 520.
    EXPECT_EQ(window.f, NSMakeRect(300, 420, 250, 100));
    EXPECT_EQ(label.f, NSMakeRect(20, 40, 150, 20));
    EXPECT_EQ(content.children[1]->f, NSMakeRect(20, 0, 60, 20));
}

TEST(LocalizationViews, FlexibleViewsResizeOnlyAsTheirFlagsAllow) {
    FakeView view(NSMakeRect(0, 0, 100, 50));
    AwareView& child = view.add<AwareView>(NSMakeRect(10, 10, 50, 30));
    child.change = [](AwareView& v) {
        v.f.size.width += 60;
        v.f.size.height += 20;
    };
    resizeFlexibleViewForI18N(view, {10, 10, 10, 10}, {true, true, true, false});
    EXPECT_EQ(view.f, NSMakeRect(0, 0, 120, 50));
    EXPECT_EQ(child.f, NSMakeRect(10, 10, 110, 50));

    child.change = [](AwareView& v) { v.f.size.height -= 40; };
    resizeFlexibleViewForI18N(view, {10, 10, 10, 10}, {true, true, true, false});
    // Needs 10 + 10 high: 30 less, top edge kept, the child 30 lower inside it.
    EXPECT_EQ(view.f, NSMakeRect(0, 30, 120, 20));
    EXPECT_EQ(child.f, NSMakeRect(10, -20, 110, 10));
}
