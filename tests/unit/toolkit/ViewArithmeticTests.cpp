// Frame arithmetic of the view additions and the localization views, over views of the test's own
// that behave as y-up views do: resizing a view leaves its subviews' frames alone.

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
    std::optional<QByteArray> action() const override { return selector; }

    template <typename V = FakeView> V& add(NSRect r = {}, bool isHidden = false) {
        children.push_back(std::make_unique<V>(r, isHidden));
        children.back()->parent = this;
        return static_cast<V&>(*children.back());
    }

    NSRect f;
    bool hidden;
    FakeView* parent = nullptr;
    std::optional<QByteArray> selector;
    std::vector<std::unique_ptr<FakeView>> children;
};

// Takes part in localization passes: counts them and applies its own change.
struct AwareView : FakeView, VLI18NAware {
    using FakeView::FakeView;
    void resizeForI18N() override {
        ++passes;
        if (change)
            change(*this);
    }
    int passes = 0;
    std::function<void(AwareView&)> change;
};

struct FakeWindow : NSWindow {
    NSRect frame() const override { return f; }
    void setFrame(const NSRect& r, bool, bool) override { f = r; }
    NSView* contentView() override { return content; }
    NSRect f;
    NSView* content = nullptr;
};

void widen(AwareView& v, double by) {
    v.f.size.width += by;
}

} // namespace

TEST(ViewGeometry, UnionOfSubviewsIsTheTightBoxOfTheCountedFrames) {
    FakeView v;
    EXPECT_EQ(subviewUnionRectIgnoringHidden(v, false), NSZeroRect);
    v.add(NSMakeRect(10, 10, 20, 20));
    v.add(NSMakeRect(50, 40, 10, 10));
    EXPECT_EQ(subviewUnionRectIgnoringHidden(v, false), NSMakeRect(10, 10, 50, 40));

    FakeView hidden;
    hidden.add(NSMakeRect(0, 0, 5, 5), true);
    hidden.add(NSMakeRect(20, 30, 5, 5), true);
    size_t index = 99;
    EXPECT_EQ(firstVisibleViewIn(hidden.subviews(), &index), nullptr);
    EXPECT_EQ(index, 99u);
    EXPECT_EQ(subviewUnionRectIgnoringHidden(hidden, false), NSZeroRect);
    EXPECT_EQ(subviewUnionRectIgnoringHidden(hidden, true), NSMakeRect(0, 0, 25, 35));
    hidden.add(NSMakeRect(100, 100, 1, 1));
    EXPECT_EQ(subviewUnionRectIgnoringHidden(hidden, false), NSMakeRect(100, 100, 1, 1));
}

class OffsetViews : public testing::TestWithParam<std::pair<size_t, int>> {};

TEST_P(OffsetViews, MovesOnlyTheViewsAfterTheIndex) {
    const auto [index, firstMoved] = GetParam();
    FakeView v;
    for (int i = 0; i < 3; ++i)
        v.add(NSMakeRect(i, 0, 1, 1));
    offsetViews(v.subviews(), index, {5, -2});
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(v.children[i]->f, i >= firstMoved ? NSMakeRect(i + 5, -2, 1, 1) : NSMakeRect(i, 0, 1, 1))
            << i;
}

INSTANTIATE_TEST_SUITE_P(Index, OffsetViews,
                         testing::Values(std::pair{size_t(0), 1}, std::pair{size_t(-1), 0},
                                         std::pair{size_t(2), 3}, std::pair{size_t(7), 3}));

TEST(ViewGeometry, GrowingHoldsTheNamedEdge) {
    FakeView v(NSMakeRect(0, 100, 50, 20));
    makeFrameTaller(v, 10, NSMaxYEdge);
    EXPECT_EQ(v.f, NSMakeRect(0, 90, 50, 30));
    makeFrameTaller(v, 10);
    EXPECT_EQ(v.f, NSMakeRect(0, 90, 50, 40));
    FakeView w(NSMakeRect(100, 0, 40, 10));
    makeFrameWider(w, 20, NSMaxXEdge);
    EXPECT_EQ(w.f, NSMakeRect(80, 0, 60, 10));
    makeFrameWider(w, 5, NSMaxYEdge);
    EXPECT_EQ(w.f, NSMakeRect(80, 0, 65, 10));
}

class PlaceAdjacent : public testing::TestWithParam<std::pair<int, NSPoint>> {};

TEST_P(PlaceAdjacent, PutsTheViewBesideTheOtherMarginApart) {
    FakeView other(NSMakeRect(10, 10, 100, 20));
    FakeView v(NSMakeRect(3, 4, 30, 5));
    placeAdjacentToView(v, other, NSRectEdge(GetParam().first), 8);
    EXPECT_EQ(v.f, (NSRect{GetParam().second, {30, 5}}));
}

INSTANTIATE_TEST_SUITE_P(Edge, PlaceAdjacent,
                         testing::Values(std::pair{int(NSMinXEdge), NSPoint{-28, 4}},
                                         std::pair{int(NSMinYEdge), NSPoint{3, -3}},
                                         std::pair{int(NSMaxXEdge), NSPoint{118, 4}},
                                         std::pair{int(NSMaxYEdge), NSPoint{3, 38}},
                                         std::pair{7, NSPoint{3, 4}}));

TEST(ViewGeometry, CentringRoundsToWholePoints) {
    FakeView super(NSMakeRect(0, 0, 201, 51));
    FakeView& v = super.add(NSMakeRect(7, 9, 100, 10));
    workaroundForLayoutBug(v);
    // 50.5 before rounding: the integral rectangle reaches from 50 to 151.
    EXPECT_EQ(v.f, NSMakeRect(50, 9, 101, 10));
    FakeView& wide = super.add(NSMakeRect(7, 9, 300, 10));
    workaroundForLayoutBug(wide);
    EXPECT_EQ(wide.f, NSMakeRect(7, 9, 300, 10));

    FakeView& c = super.add(NSMakeRect(0, 0, 20, 10));
    centerInSuperviewHorizontally(c, true, false);
    EXPECT_EQ(c.f, NSMakeRect(91, 0, 20, 10));
    centerInSuperview(c);
    EXPECT_EQ(c.f, NSMakeRect(91, 21, 20, 10));
    FakeView orphan(NSMakeRect(1, 2, 3, 4));
    centerInSuperview(orphan);
    EXPECT_EQ(orphan.f, NSMakeRect(1, 2, 3, 4));
}

TEST(ViewGeometry, ViewWithActionSearchesPreOrderAndSkipsNonControls) {
    FakeView root;
    FakeView& box = root.add({});
    box.add({}).add({}).selector = "cancel:";
    root.add({}).selector = "cancel:";
    box.add({}).selector = "accept:";
    EXPECT_EQ(viewWithAction(root, "cancel:"), box.children[0]->children[0].get());
    EXPECT_EQ(viewWithAction(root, "accept:"), box.children[1].get());
    EXPECT_EQ(viewWithAction(root, "other:"), nullptr);
}

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

TEST(LocalizationViews, PassesStopAtTheFirstAwareViewOnEachBranch) {
    FakeView root;
    AwareView& button = root.add().add().add<AwareView>({});
    AwareView& container = root.add<AwareView>({});
    AwareView& inner = container.add<AwareView>({});
    VLI18NHelper::resizeViewAndSubViewsForI18N(root);
    EXPECT_EQ(button.passes, 1);
    EXPECT_EQ(container.passes, 1);
    EXPECT_EQ(inner.passes, 0);
}

TEST(LocalizationViews, BoxesKeepTheirMarginsAroundVisibleContentAndTheirTopEdge) {
    FakeView box(NSMakeRect(10, 10, 130, 73));
    FakeView& content = box.add(NSMakeRect(0, 0, 130, 73));
    AwareView& button = content.add<AwareView>(NSMakeRect(7, 5, 80, 24));
    content.add(NSMakeRect(0, 0, 500, 500), true);
    resizeBoxForI18N(box, content);
    EXPECT_EQ(box.f, NSMakeRect(10, 10, 130, 73)) << "an unchanged union keeps the odd margins";

    button.change = [](AwareView& v) {
        widen(v, 16);
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
    label.change = [](AwareView& v) { widen(v, 50); };
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
        widen(v, 60);
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

TEST(LocalizationViews, ViewsSortByEdgeInEitherDirection) {
    FakeView a(NSMakeRect(0, 50, 100, 10)), b(NSMakeRect(20, 80, 10, 10)), c(NSMakeRect(40, 0, 10, 70));
    const std::vector<NSView*> views{&a, &b, &c};
    using H = VLI18NHelper;
    EXPECT_EQ(H::viewArraySortedHorizontally(views), (std::vector<NSView*>{&a, &b, &c}));
    EXPECT_EQ(H::viewArraySortedHorizontally(views, true), (std::vector<NSView*>{&a, &c, &b}));
    EXPECT_EQ(H::viewArraySortedVertically(views), (std::vector<NSView*>{&b, &a, &c}));
    EXPECT_EQ(H::viewArraySortedVertically(views, true), (std::vector<NSView*>{&a, &c, &b}));
}
