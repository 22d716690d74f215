// The tray item and its menu.

#include "Bundle.h"
#include "HelperAppDelegate.h"
#include "ScreensnapManager.h"
#include "StatusMenu.h"
#include "tray/ModifierState.h"
#include "tray/NSStatusBar.h"
#include "ui/NamedImage.h"

using dispatch::dispatch_async;
using dispatch::dispatch_get_main_queue;

void HelperAppDelegate::showStatusItem() {
    if (statusItem)
        return;
    versionMenuItem->setText(bundleDisplayNameAndVersion());
    statusItem =
        glimra::NSStatusBar::systemStatusBar().statusItemWithLength(glimra::NSVariableStatusItemLength);
    statusItem->setMenu(statusMenu.get());
    const QString images = glimra::Bundle::mainBundle().resourcePath() + QStringLiteral("/images");
    statusItem->setImage(glimra::loadNamedImage(images, QStringLiteral("HelperMenu")));
    statusItem->setAlternateImage(glimra::loadNamedImage(images, QStringLiteral("HelperMenuPressed")));
    statusItem->setHighlightMode(true);
    statusItem->setToolTip(
        glimra::Bundle::mainBundle().localizedString(QT_TRANSLATE_NOOP("Localizable", "Glimra Helper")));
    statusItem->setModifierState(modifierState_);
    connect(statusItem.get(), &glimra::NSStatusItem::menuWillOpen, this,
            [this] { menuWillOpen(statusMenu.get()); });
    // Alt pressed or let go while the menu is open switches the items live.
    connect(statusItem.get(), &glimra::NSStatusItem::modifierFlagsChanged, this,
            [this](Qt::KeyboardModifiers flags) {
                showOptionKeyItems(statusMenu.get(), flags.testFlag(Qt::AltModifier));
            });
}

void HelperAppDelegate::hideStatusItem() {
    if (!statusItem)
        return;
    glimra::NSStatusBar::systemStatusBar().removeStatusItem(statusItem.get());
    statusItem.reset();
}

void HelperAppDelegate::menuWillOpen(QMenu* menu) {
    for (QAction* item : menu->actions())
        item->setEnabled(validateMenuItem(item));
    hotKeyStatusItem->setText(glimra::Bundle::mainBundle().localizedStringWithFormat(
        QT_TRANSLATE_NOOP("Localizable", "Global hot keys: %d of %d active"), registeredHotKeys_, 5));
    showOptionKeyItems(menu, modifierState_->isOptionKeyDown());
}

void HelperAppDelegate::showOptionKeyItems(QMenu* menu, bool option) {
    for (QAction* item : menu->actions())
        if (menuItemTag(item) == kOptionKeyItemTag)
            item->setVisible(option);
    if (option) {
        std::weak_ptr<HelperAppDelegate> weak = weak_from_this();
        dispatch_async(dispatch_get_main_queue(), [weak] {
            auto self = weak.lock();
            if (!self)
                return;
            // Set once and kept: later openings without Alt still show it.
            self->versionMenuItem->setToolTip(glimra::Bundle::mainBundle().localizedStringWithFormat(
                QT_TRANSLATE_NOOP("Localizable", "Path of the helper app:\n\n%@"),
                self->currentBundlePath()));
        });
    }
}

bool HelperAppDelegate::validateMenuItem(const QAction* item) const {
    switch (menuItemAction(item)) {
    case StatusMenuAction::CrosshairSnapshot:
    case StatusMenuAction::TimedSnapshot:
    case StatusMenuAction::FullscreenSnapshot:
    case StatusMenuAction::ShowGlimra:
    case StatusMenuAction::TerminateGlimraAndHelperApp:
        return true;
    case StatusMenuAction::PreviousCrosshairSnapshot:
        return ScreensnapManager::sharedManager().canSnapPreviousArea();
    case StatusMenuAction::AllScreenSnapshot:
    case StatusMenuAction::None:
        return false;
    }
    return false;
}

void HelperAppDelegate::showGlimra() {
    showGlimraAppByLaunching(true, true);
}

void HelperAppDelegate::setModifierStateForTesting(std::unique_ptr<glimra::ModifierState> state) {
    modifierState_ = std::move(state);
    if (statusItem)
        statusItem->setModifierState(modifierState_);
}
