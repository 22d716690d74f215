// The real helper's status item on tray hosts of the test session: docked in trayer (XEmbed), and
// read and driven by a StatusNotifierWatcher standing in for a desktop panel, the way panels do.

#include "HelperLink.h"
#include "TrayHosts.h"
#include "tray/DBusTrayTypes.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QPainter>
#include <QProcess>
#include <QtEndian>

#include <X11/keysym.h>

using namespace xpc;
using namespace glimra::test;
using glimra::tray::IconPixmap;
using glimra::tray::MenuLayoutItem;

namespace {

const QString kItem = "/StatusNotifierItem";
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenu = QStringLiteral("/MenuBar");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");

QImage artwork(const char* name) {
    return QImage(QStringLiteral(GLIMRA_HELPER_BUNDLE_DIR "/Contents/Resources/images/%1.png").arg(name))
        .convertToFormat(QImage::Format_ARGB32);
}

QVariant itemProperty(const QString& service, const char* name) {
    return busCall(service, kItem, "org.freedesktop.DBus.Properties", "Get", {kItemInterface, name})
        .arguments()
        .value(0)
        .value<QDBusVariant>()
        .variant();
}

// The 22-pixel image of the item's icon, from network byte order ARGB.
QImage icon22(const QString& service) {
    for (const IconPixmap& p :
         qdbus_cast<glimra::tray::IconPixmapList>(itemProperty(service, "IconPixmap"))) {
        if (p.width != 22 || p.height != 22 || p.argb.size() != 22 * 22 * 4)
            continue;
        QImage found(22, 22, QImage::Format_ARGB32);
        qFromBigEndian<quint32>(p.argb.constData(), 22 * 22, found.bits());
        return found;
    }
    return QImage();
}

const MenuLayoutItem* find(const MenuLayoutItem& menu, const char* label) {
    for (const MenuLayoutItem& child : menu.children)
        if (child.properties.value(QStringLiteral("label")).toString() == QLatin1String(label))
            return &child;
    return nullptr;
}

MenuLayoutItem readMenu(const QString& service) {
    const QDBusMessage layout = busCall(service, kMenu, kMenuInterface, "GetLayout", {0, -1, QStringList()});
    return qdbus_cast<MenuLayoutItem>(layout.arguments().value(1));
}

// Opens the menu as a panel does and reads it, optionally with Alt held until then.
MenuLayoutItem openMenu(const QString& service, bool alt) {
    if (alt)
        QProcess::execute(QStringLiteral("xdotool"), {"keydown", "alt"});
    const QDBusMessage shown = busCall(service, kMenu, kMenuInterface, "AboutToShow", {0});
    EXPECT_EQ(shown.type(), QDBusMessage::ReplyMessage) << shown.errorMessage().toStdString();
    const MenuLayoutItem menu = readMenu(service);
    if (alt)
        QProcess::execute(QStringLiteral("xdotool"), {"keyup", "alt"});
    return menu;
}

// Counts the menu's LayoutUpdated signals, on which a panel reads the menu again.
class LayoutUpdates : public QObject {
    Q_OBJECT
public:
    explicit LayoutUpdates(const QString& service) {
        QDBusConnection::sessionBus().connect(service, kMenu, kMenuInterface, QStringLiteral("LayoutUpdated"),
                                              this, SLOT(updated()));
    }
    int count = 0;
public slots:
    void updated() { ++count; }
};

void menuEvent(const QString& service, int id, const char* event) {
    busCall(service, kMenu, kMenuInterface, "Event",
            {id, QString::fromLatin1(event), QVariant::fromValue(QDBusVariant(0)), 0u});
}

// A viewable top-level window of process pid other than except: a menu it popped up.
std::optional<QRect> popupOf(XClient& x, qint64 pid, xcb_window_t except) {
    for (xcb_window_t w : x.children(x.root()))
        if (w != except && x.property32(w, "_NET_WM_PID") == pid && x.viewable(w))
            return x.frameRect(w);
    return std::nullopt;
}

using HelperStatusItem = HelperTest;

// A tray along the top or the bottom edge of the screen.
class InTrayer : public HelperStatusItem, public ::testing::WithParamInterface<const char*> {};

TEST_P(InTrayer, WaitsForTrayerDocksInItAndOpensItsMenuOnEitherButton) {
    XClient x;
    if (trayRunning(x) || StatusNotifierWatcher::onBus())
        GTEST_SKIP() << "another tray host runs in this session";
    const bool top = GetParam() == std::string("top");
    // The tray comes after the helper, as at a login where the helper starts first.
    home.writeHelperSetting("StartHelperAtLogin", "true");
    ASSERT_TRUE(startHelper());
    const auto trayer = startTrayer(GetParam());
    std::optional<xcb_window_t> icon;
    ASSERT_TRUE(waitUntil([&] { return (icon = iconDockedInTrayer(x, helper->pid())).has_value(); }, 10000));

    // What the tray shows is the artwork, at rest and, while the menu is open, pressed. Trayer may
    // still move the icon as it lays itself out: the icon's own window is read, as the X server shows
    // it at that moment wherever it is (nothing while part of it is off the screen), rather than the
    // screen at a place read a moment before.
    const auto shows = [&](const char* name) {
        const auto differs = [&] {
            const QImage shown = x.pixels(QRect(0, 0, 22, 22), *icon);
            if (shown.isNull())
                return 255.0;
            QImage expected(22, 22, QImage::Format_RGB32);
            expected.fill(shown.pixel(0, 0)); // see-through in the artwork
            QPainter(&expected).drawImage(0, 0, artwork(name));
            return difference(shown, expected);
        };
        return waitUntil([&] { return differs() < 4.0; }, 10000);
    };
    EXPECT_TRUE(shows("HelperMenu"));
    // Shown whole, so laid out: its place and size now are for good.
    const QRect placed = x.rootGeometry(*icon);
    ASSERT_EQ(placed.size(), QSize(22, 22));
    const QPoint centre = placed.center();
    for (const uint8_t button : {1, 3}) {
        SCOPED_TRACE(int(button));
        x.click(centre.x(), centre.y(), button);
        // The menu hangs from the item's edge, below it or above it.
        const auto hangsFromTheItem = [&](const QRect& menu) {
            const int gap = top ? menu.top() - placed.bottom() : placed.top() - menu.bottom();
            return gap >= 1 && gap <= 4;
        };
        std::optional<QRect> menu;
        ASSERT_TRUE(waitUntil([&] { return (menu = popupOf(x, helper->pid(), *icon)).has_value(); }));
        EXPECT_TRUE(waitUntil([&] {
            menu = popupOf(x, helper->pid(), *icon).value_or(*menu);
            return hangsFromTheItem(*menu);
        })) << "menu "
            << menu->top() << ".." << menu->bottom() << ", item " << placed.top() << ".." << placed.bottom();
        EXPECT_TRUE(shows("HelperMenuPressed"));
        // Alt pressed and let go with the menu open brings its Alt items in and takes them out again:
        // the menu stays open and grows by them (Alt and a click go to the window manager here).
        for (const int grown : {1, 0}) {
            x.pressCode(x.keycode(XK_Alt_L), grown);
            std::optional<QRect> now;
            EXPECT_TRUE(waitUntil([&] {
                now = popupOf(x, helper->pid(), *icon);
                return now && (now->height() > menu->height()) == grown && hangsFromTheItem(*now);
            })) << (now ? now->height() : 0);
        }
        x.tap(XK_Escape);
        EXPECT_TRUE(waitUntil([&] { return !popupOf(x, helper->pid(), *icon); }));
        EXPECT_TRUE(shows("HelperMenu"));
    }
}

INSTANTIATE_TEST_SUITE_P(HelperStatusItem, InTrayer, ::testing::Values("top", "bottom"),
                         [](const auto& info) { return std::string(info.param); });

// Also in the Wayland session, where a panel's StatusNotifierItem host is the only tray there is and
// the keyboard's modifiers are the focused window's alone (so Alt shows nothing there).
TEST_F(HelperStatusItem, APanelStartedLaterReadsTheItemAndDrivesItsMenuToQuit) {
    if (StatusNotifierWatcher::onBus())
        GTEST_SKIP() << "a StatusNotifierWatcher already runs on this bus";
    const bool x11 = qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    qDBusRegisterMetaType<QList<QStringList>>();
    ASSERT_NO_FATAL_FAILURE(startAsMainApp());
    if (!x11) {
        EXPECT_TRUE(helper->waitForLogLine("No StatusNotifierItem host runs"));
    }
    StatusNotifierWatcher watcher;
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(waitUntil([&] { return watcher.items().size() == 1; }, 10000));
    const QString service = watcher.items().value(0);
    EXPECT_TRUE(itemProperty(service, "ItemIsMenu").toBool());
    EXPECT_EQ(itemProperty(service, "Menu").value<QDBusObjectPath>().path(), kMenu);
    EXPECT_EQ(icon22(service), artwork("HelperMenu"));

    // Alt held as the menu opens shows its items; the item looks pressed until the menu closes.
    MenuLayoutItem menu = openMenu(service, x11);
    EXPECT_EQ(icon22(service), artwork("HelperMenuPressed"));
    const MenuLayoutItem* region = find(menu, "Capture Region");
    ASSERT_TRUE(region);
    EXPECT_EQ(qdbus_cast<QList<QStringList>>(region->properties.value("shortcut")),
              (QList<QStringList>{{"Control", "Shift", "5"}}));
    const auto allScreensShown = [&] {
        const MenuLayoutItem* item = find(menu, "Capture All Screens");
        return item && item->properties.value("visible", true).toBool();
    };
    EXPECT_EQ(allScreensShown(), x11);
    menuEvent(service, 0, "closed");
    EXPECT_EQ(icon22(service), artwork("HelperMenu"));
    // Alt pressed while the panel shows the menu shows them too, and letting go hides them again: the
    // panel is told the layout changed, and reads it again.
    menu = openMenu(service, false);
    EXPECT_FALSE(allScreensShown());
    LayoutUpdates updates(service);
    pause(200); // the update for the opening is not the one looked for
    for (const bool alt : x11 ? std::vector<bool>{true, false} : std::vector<bool>{}) {
        const int before = updates.count;
        QProcess::execute(QStringLiteral("xdotool"), {alt ? "keydown" : "keyup", "alt"});
        ASSERT_TRUE(waitUntil([&] { return updates.count > before; })) << alt;
        menu = readMenu(service);
        EXPECT_EQ(allScreensShown(), alt);
    }
    menuEvent(service, 0, "closed");

    // A panel restarted gets the item again, once.
    watcher.stop();
    StatusNotifierWatcher restarted;
    ASSERT_TRUE(restarted.start());
    ASSERT_TRUE(waitUntil([&] { return restarted.items().size() == 1; }, 10000))
        << restarted.items().join(u',').toStdString();
    const QString again = restarted.items().value(0);

    menu = openMenu(again, false);
    const MenuLayoutItem* quit = find(menu, "Quit Glimra and Helper");
    ASSERT_TRUE(quit);
    menuEvent(again, quit->id, "clicked");
    EXPECT_TRUE(main->log.waitForMessages(9, 1));
    ASSERT_TRUE(helper->waitForExit());
    EXPECT_EQ(helper->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper->exitCode(), 0);
    EXPECT_EQ(main->log.messages(9).size(), 1u);
}

} // namespace

#include "HelperStatusItemTests.moc"
