#include "StatusMenu.h"

#include "Bundle.h"
#include "HelperAppDelegate.h"

namespace {

const char kActionProperty[] = "glimraMenuAction";

QAction* addItem(QMenu& menu, HelperAppDelegate& delegate, const char* title, StatusMenuAction action,
                 void (HelperAppDelegate::*command)(), int tag = 0) {
    QAction* item = menu.addAction(glimra::Bundle::mainBundle().localizedString(title));
    item->setProperty(kActionProperty, int(action));
    item->setData(tag);
    // Shown while Alt is held; hidden from the start, so the menu's first size is its usual one.
    item->setVisible(tag != kOptionKeyItemTag);
    if (command)
        QObject::connect(item, &QAction::triggered, &delegate,
                         [&delegate, command] { (delegate.*command)(); });
    return item;
}

} // namespace

StatusMenuAction menuItemAction(const QAction* item) {
    const QVariant action = item ? item->property(kActionProperty) : QVariant();
    return action.isValid() ? StatusMenuAction(action.toInt()) : StatusMenuAction::None;
}

int menuItemTag(const QAction* item) {
    return item ? item->data().toInt() : 0;
}

StatusMenu buildStatusMenu(HelperAppDelegate& delegate) {
    StatusMenu status;
    status.menu = std::make_unique<QMenu>();
    QMenu& menu = *status.menu;
    menu.setToolTipsVisible(true);
    // The hot keys' items show their shortcuts once the hot keys are installed
    // (HelperAppDelegate::nameHotKeysInMenu).
    status.versionMenuItem = addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Glimra Helper"),
                                     StatusMenuAction::None, nullptr);
    menu.addSeparator();
    addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Capture Region"),
            StatusMenuAction::CrosshairSnapshot, &HelperAppDelegate::crosshairSnapshot);
    addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Capture Region with Timer"),
            StatusMenuAction::TimedSnapshot, &HelperAppDelegate::timedSnapshot);
    addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Capture Previous Area"),
            StatusMenuAction::PreviousCrosshairSnapshot, &HelperAppDelegate::previousCrosshairSnapshot);
    addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Capture Full Screen"),
            StatusMenuAction::FullscreenSnapshot, &HelperAppDelegate::fullscreenSnapshot);
    addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Capture All Screens"),
            StatusMenuAction::AllScreenSnapshot, &HelperAppDelegate::allScreenSnapshot, kOptionKeyItemTag);
    status.hotKeyStatusItem = addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Global hot keys"),
                                      StatusMenuAction::None, nullptr, kOptionKeyItemTag);
    menu.addSeparator();
    addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Show Glimra"), StatusMenuAction::ShowGlimra,
            &HelperAppDelegate::showGlimra);
    menu.addSeparator();
    addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Quit Glimra and Helper"),
            StatusMenuAction::TerminateGlimraAndHelperApp, &HelperAppDelegate::terminateGlimraAndHelperApp);
    return status;
}
