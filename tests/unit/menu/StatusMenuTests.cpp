// The status menu as the delegate prepares it: the Alt items, the path tool tip, which items are enabled,
// and the one status item behind it. Runs without a display (offscreen platform).

#include "HelperAppDelegate.h"
#include "ImageCaptureCrosshairWindowController.h"
#include "ScreensnapManager.h"
#include "StatusMenu.h"
#include "TestSupport.h"
#include "tray/ModifierState.h"
#include "tray/NSStatusBar.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <gtest/gtest.h>

#include <memory>

using glimra::test::waitUntil;

namespace {

// Modifier keys as the test sets them, shared with the delegate that reads them.
class FakeModifiers : public glimra::ModifierState {
public:
    explicit FakeModifiers(std::shared_ptr<Qt::KeyboardModifiers> held) : held_(std::move(held)) {}
    Qt::KeyboardModifiers current() const override { return *held_; }

private:
    std::shared_ptr<Qt::KeyboardModifiers> held_;
};

class StatusMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        delegate->setModifierStateForTesting(std::make_unique<FakeModifiers>(held));
        ASSERT_NE(delegate->menu(), nullptr);
        ASSERT_NE(delegate->versionItem(), nullptr);
    }

    QAction* itemWith(StatusMenuAction action) const {
        for (QAction* item : delegate->menu()->actions())
            if (menuItemAction(item) == action)
                return item;
        return nullptr;
    }
    void openMenu(Qt::KeyboardModifiers modifiers) {
        *held = modifiers;
        delegate->menuWillOpen(delegate->menu());
    }
    void spin() {
        waitUntil([] { return false; }, 50);
    }
    QString pathToolTip() const {
        return QStringLiteral("Path of the helper app:\n\n") + glimra::Bundle::mainBundle().bundlePath();
    }

    std::shared_ptr<Qt::KeyboardModifiers> held = std::make_shared<Qt::KeyboardModifiers>();
    std::shared_ptr<HelperAppDelegate> delegate = std::make_shared<HelperAppDelegate>();
};

TEST_F(StatusMenuTest, AltRevealsTheTaggedItemsAndThePathToolTipStays) {
    const QList<QAction*> items = delegate->menu()->actions();
    ASSERT_TRUE(std::any_of(items.begin(), items.end(),
                            [](QAction* item) { return menuItemTag(item) == kOptionKeyItemTag; }));
    ASSERT_EQ(menuItemTag(itemWith(StatusMenuAction::AllScreenSnapshot)), kOptionKeyItemTag);
    const auto expectVisibility = [&](bool altItemsVisible) {
        for (QAction* item : items)
            EXPECT_EQ(item->isVisible(), menuItemTag(item) == kOptionKeyItemTag ? altItemsVisible : true)
                << item->text().toStdString();
    };

    openMenu(Qt::ShiftModifier | Qt::ControlModifier);
    expectVisibility(false);
    spin();
    EXPECT_NE(delegate->versionItem()->toolTip(), pathToolTip());

    openMenu(Qt::AltModifier | Qt::ShiftModifier);
    expectVisibility(true);
    // Set from the event loop, right after the menu opened.
    EXPECT_NE(delegate->versionItem()->toolTip(), pathToolTip());
    EXPECT_TRUE(waitUntil([&] { return delegate->versionItem()->toolTip() == pathToolTip(); }, 1000));

    openMenu(Qt::NoModifier);
    expectVisibility(false);
    spin();
    EXPECT_EQ(delegate->versionItem()->toolTip(), pathToolTip());
}

TEST_F(StatusMenuTest, ToolTipPostedForADelegateThatIsGoneIsDropped) {
    openMenu(Qt::AltModifier);
    delegate.reset();
    spin(); // nothing to crash into
}

// Before any region capture the previous-area item is off, and every capture turns it off again.
TEST_F(StatusMenuTest, ItemsAreEnabledByTheirActions) {
    const StatusMenuAction always[] = {StatusMenuAction::CrosshairSnapshot, StatusMenuAction::TimedSnapshot,
                                       StatusMenuAction::FullscreenSnapshot, StatusMenuAction::ShowGlimra,
                                       StatusMenuAction::TerminateGlimraAndHelperApp};
    for (StatusMenuAction action : always) {
        ASSERT_NE(itemWith(action), nullptr) << int(action);
        EXPECT_TRUE(delegate->validateMenuItem(itemWith(action))) << int(action);
    }
    EXPECT_FALSE(delegate->validateMenuItem(itemWith(StatusMenuAction::AllScreenSnapshot)));
    int withoutAction = 0;
    for (QAction* item : delegate->menu()->actions()) {
        if (menuItemAction(item) != StatusMenuAction::None)
            continue;
        ++withoutAction;
        EXPECT_FALSE(delegate->validateMenuItem(item)) << item->text().toStdString();
    }
    EXPECT_GE(withoutAction, 2); // the version item and the separators at least
    EXPECT_FALSE(delegate->validateMenuItem(nullptr));
    QAction stranger(QStringLiteral("not in the menu"));
    EXPECT_FALSE(delegate->validateMenuItem(&stranger));

    QAction* previous = itemWith(StatusMenuAction::PreviousCrosshairSnapshot);
    ASSERT_NE(previous, nullptr);
    ScreensnapManager& manager = ScreensnapManager::sharedManager();
    ASSERT_FALSE(manager.crosshairWindowController().canSnapPreviousArea())
        << "this test must see the process before its first region capture";
    EXPECT_FALSE(delegate->validateMenuItem(previous));
    manager.setSnapping(true);
    EXPECT_FALSE(delegate->validateMenuItem(previous));
    manager.setSnapping(false);

    // A captured rectangle makes a previous area, with or without a window server to image it.
    manager.crosshairWindowController().captureRect(NSMakeRect(0, 0, 8, 6));
    EXPECT_TRUE(delegate->validateMenuItem(previous));
    manager.setSnapping(true);
    EXPECT_FALSE(delegate->validateMenuItem(previous));
    openMenu(Qt::NoModifier);
    EXPECT_FALSE(previous->isEnabled());
    manager.setSnapping(false);
    openMenu(Qt::NoModifier);
    EXPECT_TRUE(previous->isEnabled());
    EXPECT_FALSE(itemWith(StatusMenuAction::AllScreenSnapshot)->isEnabled());
}

TEST_F(StatusMenuTest, OneStatusItemShowsTheMenuAndPreparesItAsItOpens) {
    delegate->showStatusItem();
    glimra::NSStatusItem* item = delegate->currentStatusItem();
    ASSERT_NE(item, nullptr);
    delegate->showStatusItem();
    EXPECT_EQ(delegate->currentStatusItem(), item);
    EXPECT_EQ(item->menu(), delegate->menu());
    EXPECT_EQ(delegate->versionItem()->text(), delegate->bundleDisplayNameAndVersion());
    EXPECT_TRUE(item->highlightMode());

    // Opening it through the item runs the same preparation.
    QAction* allScreens = itemWith(StatusMenuAction::AllScreenSnapshot);
    *held = Qt::AltModifier;
    item->popUpMenu(QPoint(20, 20));
    EXPECT_TRUE(waitUntil([&] { return delegate->menu()->isVisible(); }, 2000));
    EXPECT_TRUE(allScreens->isVisible());
    delegate->menu()->hide();
    *held = Qt::NoModifier;
    item->popUpMenu(QPoint(20, 20));
    EXPECT_TRUE(waitUntil([&] { return delegate->menu()->isVisible(); }, 2000));
    EXPECT_FALSE(allScreens->isVisible());
    delegate->menu()->hide();

    delegate->hideStatusItem();
    EXPECT_EQ(delegate->currentStatusItem(), nullptr);
    delegate->hideStatusItem();
    delegate->showStatusItem();
    EXPECT_NE(delegate->currentStatusItem(), nullptr);
}

} // namespace

int main(int argc, char** argv) {
    // The menu and the status item need a GUI application, not a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
