#include "NSStatusBar.h"

#include "Desktop.h"
#include "ModifierState.h"
#include "StatusNotifierItem.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <algorithm>

Q_LOGGING_CATEGORY(lcTray, "glimra.tray")

namespace glimra {

using tray::StatusNotifierHostTracker;
using tray::StatusNotifierItem;

namespace {

std::unique_ptr<NSStatusBar>& applicationBar() {
    static std::unique_ptr<NSStatusBar> bar;
    return bar;
}

// Runs early in ~QApplication, while the tray icons' windows can still be destroyed cleanly.
void destroyApplicationBar() {
    applicationBar().reset();
}

} // namespace

// ---- NSStatusBar ----

NSStatusBar& NSStatusBar::systemStatusBar() {
    auto& bar = applicationBar();
    if (!bar) {
        bar = std::make_unique<NSStatusBar>();
        if (QCoreApplication::instance())
            qAddPostRoutine(destroyApplicationBar);
    }
    return *bar;
}

NSStatusBar::NSStatusBar() : m_usable(qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
    if (!m_usable) {
        qCWarning(lcTray, "Status items need a QApplication: they stay hidden");
        return;
    }
    m_hosts = std::make_unique<StatusNotifierHostTracker>();
    connect(m_hosts.get(), &StatusNotifierHostTracker::changed, this, &NSStatusBar::hostsChanged);
    if (m_hosts->state() == StatusNotifierHostTracker::State::Absent)
        settleQtTrayChoice();
}

// QSystemTrayIcon picks its StatusNotifierItem or XEmbed side once per process, the first time it is
// asked, by whether a watcher with a host runs then. Items of this bar publish themselves for such a
// host and use QSystemTrayIcon only for XEmbed, so Qt must make that choice while no watcher runs: a
// QSystemTrayIcon on Qt's StatusNotifierItem side would appear twice next to a watcher and never in an
// XEmbed tray. Returns whether Qt is (now) on the XEmbed side, as far as can be told.
bool NSStatusBar::settleQtTrayChoice() {
    if (m_qtTrayChoiceSettled || !Desktop::current().hasXEmbedTrays())
        return true;
    // A watcher this bar has not heard of yet: wait for the news instead of letting Qt see it first.
    if (m_hosts->state() == StatusNotifierHostTracker::State::Absent && m_hosts->watcherRunsNow())
        return false;
    QSystemTrayIcon::isSystemTrayAvailable();
    m_qtTrayChoiceSettled = true;
    return true;
}

NSStatusBar::~NSStatusBar() {
    const std::vector<NSStatusItem*> items = std::move(m_items);
    for (NSStatusItem* item : items)
        item->detach();
}

std::unique_ptr<NSStatusItem> NSStatusBar::statusItemWithLength(double length) {
    std::unique_ptr<NSStatusItem> item(new NSStatusItem(this, length));
    m_items.push_back(item.get());
    item->update();
    return item;
}

void NSStatusBar::removeStatusItem(NSStatusItem* item) {
    if (!item || item->m_bar != this) {
        qCWarning(lcTray, "removeStatusItem: the item is not in this status bar");
        return;
    }
    forget(item);
    item->detach();
}

void NSStatusBar::forget(NSStatusItem* item) {
    m_items.erase(std::remove(m_items.begin(), m_items.end(), item), m_items.end());
}

void NSStatusBar::hostsChanged() {
    const std::vector<NSStatusItem*> items = m_items;
    for (NSStatusItem* item : items)
        item->update();
}

// ---- NSStatusItem ----

namespace {

constexpr int kModifierLookMs = 50;
// A host that never says its menu closed leaves the keyboard looked at for no longer than this.
constexpr int kModifierLooks = 2 * 60 * 1000 / kModifierLookMs;

} // namespace

NSStatusItem::NSStatusItem(NSStatusBar* bar, double length)
    : m_bar(bar), m_length(length), m_modifierState(std::make_shared<ModifierState>()) {
    m_modifierWatch.setInterval(kModifierLookMs);
    connect(&m_modifierWatch, &QTimer::timeout, this, [this] {
        if (--m_modifierLooksLeft <= 0)
            m_modifierWatch.stop();
        readModifierFlags();
    });
}

NSStatusItem::~NSStatusItem() {
    if (m_bar)
        m_bar->forget(this);
    tearDown();
}

void NSStatusItem::detach() {
    tearDown();
    m_bar = nullptr;
}

void NSStatusItem::tearDown() {
    m_xembed.reset();
    m_statusNotifier.reset();
}

// Puts the item on the host the session has now. A host that stays keeps its item: only a change of
// host (or of the watcher behind it) rebuilds it.
void NSStatusItem::update() {
    if (!m_bar || !m_bar->m_usable) {
        tearDown();
        return;
    }
    const StatusNotifierHostTracker& hosts = *m_bar->m_hosts;
    switch (hosts.state()) {
    case StatusNotifierHostTracker::State::HostReady:
        if (!m_statusNotifier || m_statusNotifier->generation() != hosts.generation())
            buildStatusNotifier();
        break;
    case StatusNotifierHostTracker::State::Asking:
        // Until the watcher answers, whatever shows keeps showing.
        break;
    case StatusNotifierHostTracker::State::Absent:
    case StatusNotifierHostTracker::State::NoHost:
        if (!m_xembed)
            buildXEmbed();
        break;
    }
}

void NSStatusItem::buildXEmbed() {
    if (!Desktop::current().hasXEmbedTrays()) {
        tearDown();
        if (!m_saidWaiting) {
            qCInfo(lcTray, "No StatusNotifierItem host runs (a panel's tray, such as waybar's or GNOME's "
                           "AppIndicator extension): the status item will appear when one starts");
            m_saidWaiting = true;
        }
        return;
    }
    if (!m_bar->settleQtTrayChoice())
        return;
    tearDown();
    if (!m_saidWaiting && !Desktop::current().xembedTrayRuns()) {
        qCInfo(lcTray, "No system tray is running: the status item will appear when one starts");
        m_saidWaiting = true;
    }
    m_xembed = std::make_unique<QSystemTrayIcon>();
    m_xembed->setToolTip(m_toolTip);
    // Qt itself opens a context menu on the right button only; the menu is not given to it, so that
    // both buttons open it here, the same way.
    connect(m_xembed.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context)
                    popUpMenu(menuPositionBeside(m_xembed->geometry()));
            });
    refreshImage();
}

void NSStatusItem::buildStatusNotifier() {
    tearDown();
    m_statusNotifier = std::make_unique<StatusNotifierItem>(m_bar->m_hosts->generation());
    m_statusNotifier->setMenu(m_menu);
    m_statusNotifier->setToolTip(m_toolTip);
    connect(m_statusNotifier.get(), &StatusNotifierItem::popupRequested, this,
            [this](const QPoint& screenPos) {
                // Hosts that cannot draw the menu ask for it at the click, in device pixels.
                const qreal ratio = qGuiApp->devicePixelRatio();
                popUpMenu(screenPos.isNull() ? QCursor::pos() : (QPointF(screenPos) / ratio).toPoint());
            });
    connect(m_statusNotifier.get(), &StatusNotifierItem::registeredChanged, this, [](bool registered) {
        if (registered)
            qCInfo(lcTray, "The status item is shown by the StatusNotifierItem host");
    });
    refreshImage();
}

QIcon NSStatusItem::shownImage() const {
    if (m_menuOpen && m_highlightMode && !m_alternateImage.isNull())
        return m_alternateImage;
    return m_image;
}

void NSStatusItem::refreshImage() {
    const QIcon icon = shownImage();
    if (m_statusNotifier)
        m_statusNotifier->setIcon(icon);
    if (m_xembed) {
        // An XEmbed tray has no use for an icon without an image; it shows once there is one.
        if (icon.isNull()) {
            m_xembed->hide();
        } else {
            m_xembed->setIcon(icon);
            m_xembed->show();
        }
    }
}

void NSStatusItem::setMenu(QMenu* menu) {
    if (m_menu == menu)
        return;
    disconnect(m_showConnection);
    disconnect(m_hideConnection);
    if (m_menu)
        m_menu->removeEventFilter(this);
    m_menu = menu;
    if (menu) {
        m_showConnection = connect(menu, &QMenu::aboutToShow, this, &NSStatusItem::menuOpened);
        m_hideConnection = connect(menu, &QMenu::aboutToHide, this, &NSStatusItem::menuClosed);
        menu->installEventFilter(this);
    }
    if (m_menuOpen) {
        m_menuOpen = false;
        m_modifierWatch.stop();
        refreshImage();
    }
    if (m_statusNotifier)
        m_statusNotifier->setMenu(menu);
}

void NSStatusItem::setImage(const QIcon& image) {
    m_image = image;
    refreshImage();
}

void NSStatusItem::setAlternateImage(const QIcon& image) {
    m_alternateImage = image;
    if (m_menuOpen)
        refreshImage();
}

void NSStatusItem::setHighlightMode(bool on) {
    m_highlightMode = on;
    if (m_menuOpen)
        refreshImage();
}

void NSStatusItem::setToolTip(const QString& text) {
    m_toolTip = text;
    if (m_xembed)
        m_xembed->setToolTip(text);
    if (m_statusNotifier)
        m_statusNotifier->setToolTip(text);
}

NSStatusItem::Host NSStatusItem::host() const {
    if (m_statusNotifier)
        return Host::StatusNotifier;
    if (m_xembed)
        return Host::XEmbed;
    return Host::None;
}

bool NSStatusItem::isVisibleInTray() const {
    if (!m_bar)
        return false;
    if (m_statusNotifier)
        return m_statusNotifier->isRegistered() &&
               m_bar->m_hosts->state() == StatusNotifierHostTracker::State::HostReady;
    if (m_xembed)
        return m_xembed->isVisible() && Desktop::current().xembedTrayRuns();
    return false;
}

// Like a status bar's menu, the menu drops from the item's edge (below it, or above it when the tray is
// at the bottom) rather than covering the item at the pointer.
QPoint NSStatusItem::menuPositionBeside(const QRect& itemRect) const {
    if (!m_menu || !itemRect.isValid() || itemRect.topLeft().isNull())
        return QCursor::pos();
    const QScreen* screen = QGuiApplication::screenAt(itemRect.center());
    if (!screen)
        return QCursor::pos();
    const QRect area = screen->availableGeometry();
    const int height = m_menu->sizeHint().height();
    if (itemRect.bottom() + 1 + height <= area.bottom() + 1)
        return itemRect.bottomLeft() + QPoint(0, 1);
    return QPoint(itemRect.left(), itemRect.top() - height);
}

void NSStatusItem::popUpMenu(const QPoint& globalPos) {
    if (!m_menu || m_menu->isVisible())
        return;
    m_menu->popup(globalPos);
    keepMenuAboveItem();
}

void NSStatusItem::menuOpened() {
    m_menuOpen = true;
    m_modifierFlags = m_modifierState->current();
    m_modifierLooksLeft = kModifierLooks;
    m_modifierWatch.start();
    refreshImage();
    emit menuWillOpen();
}

void NSStatusItem::menuClosed() {
    if (!m_menuOpen)
        return;
    m_menuOpen = false;
    m_modifierWatch.stop();
    refreshImage();
    emit menuDidClose();
}

void NSStatusItem::setModifierState(std::shared_ptr<const ModifierState> state) {
    m_modifierState = std::move(state);
}

void NSStatusItem::readModifierFlags() {
    const Qt::KeyboardModifiers flags = m_modifierState->current();
    if (!m_menuOpen || flags == m_modifierFlags)
        return;
    m_modifierFlags = flags;
    emit modifierFlagsChanged(flags);
    keepMenuAboveItem();
}

// Items shown or hidden as the menu opens, or while it is open, change its height at its bottom edge:
// a menu that hangs above the item keeps that edge at the item.
void NSStatusItem::keepMenuAboveItem() {
    const QRect item = m_xembed ? m_xembed->geometry() : QRect();
    if (m_menu && m_menu->isVisible() && item.isValid() && m_menu->y() < item.top())
        m_menu->move(m_menu->x(), item.top() - m_menu->height());
}

bool NSStatusItem::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_menu || (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease))
        return QObject::eventFilter(watched, event);
    if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_Alt)
        return QObject::eventFilter(watched, event);
    // A Qt menu closes on Alt; this one shows its alternates instead, at once.
    readModifierFlags();
    return true;
}

} // namespace glimra
