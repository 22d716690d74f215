#include "StatusMenu.h"

#include "Bundle.h"
#include "HelperAppDelegate.h"

#include <QKeySequence>

namespace {

const char kActionProperty[] = "glimraMenuAction";

QAction* addItem(QMenu& menu, HelperAppDelegate& delegate, const char* title, StatusMenuAction action,
                 void (HelperAppDelegate::*command)(), const QKeySequence& shortcut = {}, int tag = 0) {
    QAction* item = menu.addAction(glimra::Bundle::mainBundle().localizedString(title));
    item->setProperty(kActionProperty, int(action));
    item->setData(tag);
    // Shown while Alt is held; hidden from the start, so the menu's first size is its usual one.
    item->setVisible(tag != kOptionKeyItemTag);
    if (!shortcut.isEmpty()) {
        // Shown for reference; the global hot keys do the work, so the menu must not grab them.
        item->setShortcut(shortcut);
        item->setShortcutContext(Qt::WidgetShortcut);
    }
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
    // Command is Ctrl, Control is Super (Meta), Option is Alt, as the hot keys have them.
    status.versionMenuItem = addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Glimra Helper"),
                                     StatusMenuAction::None, nullptr);
    menu.addSeparator();
    addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Capture Region"),
            StatusMenuAction::CrosshairSnapshot, &HelperAppDelegate::crosshairSnapshot,
            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_5));
    addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Capture Region with Timer"),
            StatusMenuAction::TimedSnapshot, &HelperAppDelegate::timedSnapshot,
            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::META | Qt::Key_5));
    addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Capture Previous Area"),
            StatusMenuAction::PreviousCrosshairSnapshot, &HelperAppDelegate::previousCrosshairSnapshot,
            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::ALT | Qt::Key_5));
    addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Capture Full Screen"),
            StatusMenuAction::FullscreenSnapshot, &HelperAppDelegate::fullscreenSnapshot,
            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_6));
    addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Capture All Screens"),
            StatusMenuAction::AllScreenSnapshot, &HelperAppDelegate::allScreenSnapshot, {},
            kOptionKeyItemTag);
    status.hotKeyStatusItem = addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Global hot keys"),
                                      StatusMenuAction::None, nullptr, {}, kOptionKeyItemTag);
    menu.addSeparator();
    addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Show Glimra"), StatusMenuAction::ShowGlimra,
            &HelperAppDelegate::showGlimra, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::ALT | Qt::Key_1));
    menu.addSeparator();
    addItem(menu, delegate, QT_TRANSLATE_NOOP("Localizable", "Quit Glimra and Helper"),
            StatusMenuAction::TerminateGlimraAndHelperApp, &HelperAppDelegate::terminateGlimraAndHelperApp);
    return status;
}
