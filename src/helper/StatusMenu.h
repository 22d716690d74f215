#pragma once
// The status menu, designed in one place: its items, titles and tags. Items are told
// apart by their action; items tagged kOptionKeyItemTag show only while Alt (Option) is held, as the
// menu opens or while it is open.

#include <QAction>
#include <QMenu>

#include <memory>

class HelperAppDelegate;

enum class StatusMenuAction {
    None,
    CrosshairSnapshot,
    TimedSnapshot,
    PreviousCrosshairSnapshot,
    FullscreenSnapshot,
    AllScreenSnapshot,
    ShowGlimra,
    TerminateGlimraAndHelperApp,
};

inline constexpr int kOptionKeyItemTag = 1;

struct StatusMenu {
    std::unique_ptr<QMenu> menu;
    QAction* versionMenuItem = nullptr;  // owned by menu
    QAction* hotKeyStatusItem = nullptr; // owned by menu: the diagnostic line of the Alt items
};

// Builds the menu with its items wired to delegate's actions.
StatusMenu buildStatusMenu(HelperAppDelegate& delegate);

StatusMenuAction menuItemAction(const QAction* item);
int menuItemTag(const QAction* item);
