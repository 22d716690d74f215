#pragma once
// The system status bar and its items, on the desktop's tray. An item shows on whatever tray host the
// session has, and moves when that changes:
//   - a StatusNotifierItem host (org.kde.StatusNotifierWatcher with a registered host): the item is
//     published on the session bus and the host draws it and its menu;
//   - otherwise an XEmbed system tray (_NET_SYSTEM_TRAY_S0), through QSystemTrayIcon;
//   - with neither, the item waits (one log line) and appears when a host starts.
// Any click on the item opens its menu, as a status item's menu does. The menu's aboutToShow, and the
// item's menuWillOpen, fire right before it shows, whichever host shows it. While it is open, the item
// reports the modifier keys changing (modifierFlagsChanged), so items that Alt reveals can follow the
// key live: the local menu hears its own key presses (and does not close on Alt, as a Qt menu would),
// and the keyboard is looked at every 50 ms besides, as a host that draws the menu itself hears them.

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

class QSystemTrayIcon;

namespace glimra {

namespace tray {
class StatusNotifierHostTracker;
class StatusNotifierItem;
} // namespace tray

inline constexpr double NSVariableStatusItemLength = -1.0;
inline constexpr double NSSquareStatusItemLength = -2.0;

class ModifierState;
class NSStatusBar;

class NSStatusItem : public QObject {
    Q_OBJECT
public:
    enum class Host {
        None,           // removed, without a GUI application, or still finding out
        XEmbed,         // a QSystemTrayIcon (shown once an XEmbed tray runs)
        StatusNotifier, // published for a StatusNotifierItem host
    };
    Q_ENUM(Host)

    ~NSStatusItem() override;
    NSStatusItem(const NSStatusItem&) = delete;
    NSStatusItem& operator=(const NSStatusItem&) = delete;

    double length() const { return m_length; }
    NSStatusBar* statusBar() const { return m_bar; }

    // The menu is not owned; it must outlive its use here or be replaced first (a destroyed menu is
    // simply dropped).
    void setMenu(QMenu* menu);
    QMenu* menu() const { return m_menu.data(); }
    void setImage(const QIcon& image);
    QIcon image() const { return m_image; }
    // Shown instead of the image while the menu is open, when highlight mode is on.
    void setAlternateImage(const QIcon& image);
    QIcon alternateImage() const { return m_alternateImage; }
    void setHighlightMode(bool on);
    bool highlightMode() const { return m_highlightMode; }
    void setToolTip(const QString& text);
    QString toolTip() const { return m_toolTip; }

    Host host() const;
    // A tray host shows the item right now.
    bool isVisibleInTray() const;

    // Opens the menu as a popup at a point of the screen (logical pixels), as a click on the item does.
    void popUpMenu(const QPoint& globalPos);

    // Where the modifier keys are read while the menu is open (the keyboard unless set).
    void setModifierState(std::shared_ptr<const ModifierState> state);

signals:
    // Right before the menu shows; handlers may hide, show or retitle its items.
    void menuWillOpen();
    void menuDidClose();
    // While the menu is open: the modifier keys held changed. Handlers may change its items.
    void modifierFlagsChanged(Qt::KeyboardModifiers flags);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class NSStatusBar;
    NSStatusItem(NSStatusBar* bar, double length);

    void detach();
    void update();
    void buildXEmbed();
    void buildStatusNotifier();
    void tearDown();
    QIcon shownImage() const;
    QPoint menuPositionBeside(const QRect& itemRect) const;
    void refreshImage();
    void menuOpened();
    void menuClosed();
    void readModifierFlags();
    void keepMenuAboveItem();

    NSStatusBar* m_bar;
    double m_length;
    QPointer<QMenu> m_menu;
    QMetaObject::Connection m_showConnection;
    QMetaObject::Connection m_hideConnection;
    QIcon m_image;
    QIcon m_alternateImage;
    bool m_highlightMode = false;
    QString m_toolTip;
    bool m_menuOpen = false;
    std::shared_ptr<const ModifierState> m_modifierState;
    Qt::KeyboardModifiers m_modifierFlags;
    QTimer m_modifierWatch;
    int m_modifierLooksLeft = 0;
    bool m_saidWaiting = false;
    std::unique_ptr<QSystemTrayIcon> m_xembed;
    std::unique_ptr<tray::StatusNotifierItem> m_statusNotifier;
};

class NSStatusBar : public QObject {
    Q_OBJECT
public:
    // The application's status bar, made on first use and destroyed with the QApplication (its items
    // then leave the tray and stay inert). Items need a QApplication; without one they stay hidden.
    static NSStatusBar& systemStatusBar();

    NSStatusBar();
    ~NSStatusBar() override;
    NSStatusBar(const NSStatusBar&) = delete;
    NSStatusBar& operator=(const NSStatusBar&) = delete;

    // A new item, shown at once; the caller owns it. Only the variable length exists here: any other
    // length is kept but drawn the same.
    std::unique_ptr<NSStatusItem> statusItemWithLength(double length);
    // Takes the item off the tray for good; it stays a valid object for its owner to destroy.
    void removeStatusItem(NSStatusItem* item);

private:
    friend class NSStatusItem;
    void forget(NSStatusItem* item);
    void hostsChanged();
    bool settleQtTrayChoice();

    bool m_usable;
    std::unique_ptr<tray::StatusNotifierHostTracker> m_hosts;
    std::vector<NSStatusItem*> m_items;
    bool m_qtTrayChoiceSettled = false;
};

} // namespace glimra
