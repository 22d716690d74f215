// The status menu as the delegate prepares it: the path tool tip and which items are enabled. The
// status item behind it is driven through both kinds of tray on the real helper. Runs on the offscreen
// platform.

#include "HelperAppDelegate.h"
#include "ImageCaptureCrosshairWindowController.h"
#include "ScreensnapManager.h"
#include "StatusMenu.h"
#include "TestSupport.h"
#include "tray/ModifierState.h"

#include <QAction>
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
    QString pathToolTip() const {
        return QStringLiteral("Path of the helper app:\n\n") + glimra::Bundle::mainBundle().bundlePath();
    }

    std::shared_ptr<Qt::KeyboardModifiers> held = std::make_shared<Qt::KeyboardModifiers>();
    std::shared_ptr<HelperAppDelegate> delegate = std::make_shared<HelperAppDelegate>();
};

// Which items Alt reveals is driven through the trays on the real helper; the path tool tip is set from
// the event loop, right after the menu opened, and stays.
TEST_F(StatusMenuTest, ThePathToolTipFollowsTheOpening) {
    openMenu(Qt::AltModifier);
    EXPECT_NE(delegate->versionItem()->toolTip(), pathToolTip());
    EXPECT_TRUE(waitUntil([&] { return delegate->versionItem()->toolTip() == pathToolTip(); }, 1000));
    openMenu(Qt::NoModifier);
    glimra::test::pause(50);
    EXPECT_EQ(delegate->versionItem()->toolTip(), pathToolTip());
}

TEST_F(StatusMenuTest, ToolTipPostedForADelegateThatIsGoneIsDropped) {
    openMenu(Qt::AltModifier);
    delegate.reset();
    glimra::test::pause(50); // nothing to crash into
}

// Before any region capture the previous-area item is off, and every capture turns it off again.
TEST_F(StatusMenuTest, ItemsAreEnabledByTheirActions) {
    EXPECT_TRUE(delegate->validateMenuItem(itemWith(StatusMenuAction::CrosshairSnapshot)));
    EXPECT_FALSE(delegate->validateMenuItem(itemWith(StatusMenuAction::AllScreenSnapshot)));
    EXPECT_FALSE(delegate->validateMenuItem(delegate->versionItem()));
    QAction stranger(QStringLiteral("not in the menu"));
    EXPECT_FALSE(delegate->validateMenuItem(&stranger));

    QAction* previous = itemWith(StatusMenuAction::PreviousCrosshairSnapshot);
    ASSERT_NE(previous, nullptr);
    ScreensnapManager& manager = ScreensnapManager::sharedManager();
    ASSERT_FALSE(manager.crosshairWindowController().canSnapPreviousArea())
        << "this test must see the process before its first region capture";
    EXPECT_FALSE(delegate->validateMenuItem(previous));

    // A captured rectangle makes a previous area, with or without a window server to image it.
    manager.crosshairWindowController().captureRect(NSMakeRect(0, 0, 8, 6));
    EXPECT_TRUE(delegate->validateMenuItem(previous));
    manager.setSnapping(true);
    openMenu(Qt::NoModifier);
    EXPECT_FALSE(previous->isEnabled());
    manager.setSnapping(false);
    openMenu(Qt::NoModifier);
    EXPECT_TRUE(previous->isEnabled());
    EXPECT_FALSE(itemWith(StatusMenuAction::AllScreenSnapshot)->isEnabled());
}

} // namespace
