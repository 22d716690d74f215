// The status item on real tray hosts of the test session: trayer for XEmbed, and a StatusNotifierWatcher
// written here that plays the host's side of the bus the way desktop panels do.

#include "TrayHosts.h"
#include "tray/ModifierState.h"
#include "tray/NSStatusBar.h"
#include "ui/NamedImage.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QMenu>
#include <QMutex>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <QtEndian>
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <unistd.h>

using glimra::NSStatusBar;
using glimra::NSStatusItem;
using namespace glimra::test;

namespace {

const QString kImages = QStringLiteral(GLIMRA_TRAY_IMAGES_DIR);
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

QVariant property(const QString& service, const QString& path, const QString& iface, const QString& name) {
    const QDBusMessage reply = busCall(service, path, kProperties, QStringLiteral("Get"), {iface, name});
    return reply.type() == QDBusMessage::ReplyMessage
               ? reply.arguments().value(0).value<QDBusVariant>().variant()
               : QVariant();
}

// The 22-pixel image of an a(iiay) icon, decoded by hand from network byte order ARGB.
QImage icon22(const QVariant& value) {
    const auto arg = value.value<QDBusArgument>();
    if (arg.currentSignature() != QLatin1String("a(iiay)"))
        return {};
    QImage found;
    arg.beginArray();
    while (!arg.atEnd()) {
        int w = 0, h = 0;
        QByteArray bytes;
        arg.beginStructure();
        arg >> w >> h >> bytes;
        arg.endStructure();
        if (w != 22 || h != 22 || bytes.size() != w * h * 4)
            continue;
        found = QImage(w, h, QImage::Format_ARGB32);
        for (int i = 0; i < w * h; ++i)
            reinterpret_cast<quint32*>(found.bits())[i] = qFromBigEndian<quint32>(bytes.constData() + 4 * i);
    }
    arg.endArray();
    return found;
}

QImage artwork(const char* file) {
    return QImage(kImages + u'/' + QLatin1String(file)).convertToFormat(QImage::Format_ARGB32);
}

struct MenuNode {
    int id = 0;
    QVariantMap properties;
    std::vector<MenuNode> children;
};

MenuNode parseNode(const QDBusArgument& arg) {
    MenuNode node;
    arg.beginStructure();
    arg >> node.id >> node.properties;
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        node.children.push_back(parseNode(child.variant().value<QDBusArgument>()));
    }
    arg.endArray();
    arg.endStructure();
    return node;
}

QImage over(const QImage& art, QRgb background) {
    QImage image(art.size(), QImage::Format_RGB32);
    image.fill(background);
    QPainter(&image).drawImage(0, 0, art);
    return image;
}

// The helper's kind of menu: items for every click, one only shown with Alt, a separator, quit.
struct TestMenu {
    QMenu menu;
    QAction* capture = menu.addAction(QStringLiteral("&Capture Area"));
    QAction* altOnly = menu.addAction(QStringLiteral("Capture All Screens"));
    QAction* separator = menu.addSeparator();
    QAction* quit = menu.addAction(QStringLiteral("Quit_Now"));
    TestMenu() { capture->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+4"))); }
};

std::unique_ptr<NSStatusItem> makeItem(TestMenu& m) {
    auto item = NSStatusBar::systemStatusBar().statusItemWithLength(glimra::NSVariableStatusItemLength);
    item->setMenu(&m.menu);
    item->setImage(glimra::loadNamedImage(kImages, QStringLiteral("HelperMenu")));
    item->setAlternateImage(glimra::loadNamedImage(kImages, QStringLiteral("HelperMenuPressed")));
    item->setHighlightMode(true);
    item->setToolTip(QStringLiteral("Glimra Helper"));
    return item;
}

// ---- XEmbed ----

TEST(XEmbedTray, ItemWaitsForTrayerDocksInItAndOpensItsMenuOnEitherButton) {
    XClient x;
    ASSERT_TRUE(x.ok());
    if (trayRunning(x) || StatusNotifierWatcher::onBus())
        GTEST_SKIP() << "another tray host runs on this display";

    TestMenu m;
    auto item = makeItem(m);
    int opened = 0, closed = 0;
    QObject::connect(item.get(), &NSStatusItem::menuWillOpen, [&] { ++opened; });
    QObject::connect(item.get(), &NSStatusItem::menuDidClose, [&] { ++closed; });
    EXPECT_EQ(item->host(), NSStatusItem::Host::XEmbed);
    EXPECT_FALSE(item->isVisibleInTray());

    // The tray comes after the item, as at a login where the helper starts first.
    Trayer trayer;
    ASSERT_TRUE(waitUntil([&] { return trayRunning(x); }, 10000));
    std::optional<QRect> docked;
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto icon = iconDockedInTrayer(x, getpid());
            docked = icon ? std::optional(icon->rect) : std::nullopt;
            return docked.has_value();
        },
        10000));
    EXPECT_TRUE(waitUntil([&] { return item->isVisibleInTray(); }));
    ASSERT_GE(docked->width(), 16);

    // What the tray shows is the artwork, at rest and, while the menu is open, pressed.
    ASSERT_EQ(docked->size(), QSize(22, 22));
    QScreen* screen = QGuiApplication::primaryScreen();
    const auto grab = [&] {
        waitUntil([] { return false; }, 150); // let the tray repaint
        return screen->grabWindow(0, docked->x(), docked->y(), 22, 22).toImage();
    };
    const QImage atRest = grab();
    const QRgb background = atRest.pixel(0, 0); // see-through in the resting artwork
    EXPECT_LT(difference(atRest, over(artwork("HelperMenu.png"), background)), 4.0);
    const QPoint centre = docked->center();
    for (const char* button : {"1", "3"}) {
        SCOPED_TRACE(button);
        const int before = opened;
        QProcess::execute(QStringLiteral("xdotool"), {"mousemove", QString::number(centre.x()),
                                                      QString::number(centre.y()), "click", button});
        ASSERT_TRUE(waitUntil([&] { return m.menu.isVisible(); }));
        EXPECT_EQ(opened, before + 1);
        // The menu hangs below the item instead of covering it.
        EXPECT_GT(m.menu.geometry().top(), docked->bottom());
        EXPECT_LT(difference(grab(), over(artwork("HelperMenuPressed.png"), background)), 4.0);
        m.menu.hide();
        EXPECT_TRUE(waitUntil([&] { return closed == before + 1; }));
    }

    NSStatusBar::systemStatusBar().removeStatusItem(item.get());
    EXPECT_EQ(item->host(), NSStatusItem::Host::None);
    EXPECT_TRUE(waitUntil([&] { return !iconDockedInTrayer(x, getpid()); }));
}

// ---- StatusNotifierItem ----

TEST(StatusNotifierTray, LateWatcherGetsTheItemAndItsHostDrivesTheMenu) {
    if (StatusNotifierWatcher::onBus())
        GTEST_SKIP() << "a StatusNotifierWatcher already runs on this bus";
    qDBusRegisterMetaType<QList<QStringList>>();

    TestMenu m;
    auto item = makeItem(m);
    bool altHeld = false;
    int opened = 0, closed = 0, quitTriggered = 0;
    QObject::connect(item.get(), &NSStatusItem::menuWillOpen, [&] {
        ++opened;
        m.altOnly->setVisible(altHeld);
    });
    QObject::connect(item.get(), &NSStatusItem::menuDidClose, [&] { ++closed; });
    QObject::connect(m.quit, &QAction::triggered, [&] { ++quitTriggered; });
    EXPECT_NE(item->host(), NSStatusItem::Host::StatusNotifier);

    StatusNotifierWatcher watcher;
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(waitUntil([&] { return watcher.items().size() == 1 && item->isVisibleInTray(); }));
    EXPECT_EQ(item->host(), NSStatusItem::Host::StatusNotifier);
    const QString service = watcher.items().constFirst();
    EXPECT_EQ(service, item->statusNotifierService());

    // What a host reads of the item.
    EXPECT_EQ(property(service, "/StatusNotifierItem", kItemInterface, "ItemIsMenu").toBool(), true);
    const auto menuPath =
        property(service, "/StatusNotifierItem", kItemInterface, "Menu").value<QDBusObjectPath>();
    ASSERT_EQ(menuPath.path(), QStringLiteral("/MenuBar"));
    EXPECT_EQ(icon22(property(service, "/StatusNotifierItem", kItemInterface, "IconPixmap")),
              artwork("HelperMenu.png"));
    const auto tip =
        property(service, "/StatusNotifierItem", kItemInterface, "ToolTip").value<QDBusArgument>();
    EXPECT_EQ(tip.currentSignature(), QStringLiteral("(sa(iiay)ss)"));

    // The host opens the menu: the hook runs first and its change is reported as needing an update.
    QDBusMessage reply = busCall(service, menuPath.path(), kMenuInterface, "AboutToShow", {0});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(reply.arguments().value(0).toBool());
    EXPECT_EQ(icon22(property(service, "/StatusNotifierItem", kItemInterface, "IconPixmap")),
              artwork("HelperMenuPressed.png"));

    reply = busCall(service, menuPath.path(), kMenuInterface, "GetLayout", {0, -1, QStringList()});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    const MenuNode root = parseNode(reply.arguments().value(1).value<QDBusArgument>());
    ASSERT_EQ(root.children.size(), 4u);
    const MenuNode& capture = root.children[0];
    EXPECT_EQ(capture.properties.value("label").toString(), QStringLiteral("_Capture Area"));
    EXPECT_EQ(qdbus_cast<QList<QStringList>>(capture.properties.value("shortcut")),
              (QList<QStringList>{{"Control", "Shift", "4"}}));
    EXPECT_FALSE(root.children[1].properties.value("visible").toBool());
    EXPECT_EQ(root.children[2].properties.value("type").toString(), QStringLiteral("separator"));
    EXPECT_EQ(root.children[3].properties.value("label").toString(), QStringLiteral("Quit__Now"));

    // Choosing an item triggers its action; closing brings the resting artwork back.
    reply = busCall(service, menuPath.path(), kMenuInterface, "Event",
                    {root.children[3].id, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(waitUntil([&] { return quitTriggered == 1; }));
    busCall(service, menuPath.path(), kMenuInterface, "Event",
            {0, "closed", QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(icon22(property(service, "/StatusNotifierItem", kItemInterface, "IconPixmap")),
              artwork("HelperMenu.png"));

    // Opening with Alt held shows the Alt item again.
    altHeld = true;
    reply = busCall(service, menuPath.path(), kMenuInterface, "AboutToShow", {0});
    EXPECT_TRUE(reply.arguments().value(0).toBool());
    reply = busCall(service, menuPath.path(), kMenuInterface, "GetLayout", {0, -1, QStringList{"visible"}});
    EXPECT_TRUE(parseNode(reply.arguments().value(1).value<QDBusArgument>())
                    .children[1]
                    .properties.value("visible")
                    .toBool());
    busCall(service, menuPath.path(), kMenuInterface, "Event",
            {0, "closed", QVariant::fromValue(QDBusVariant(0)), 0u});

    // A host that cannot draw menus asks the application to show it.
    busCall(service, "/StatusNotifierItem", kItemInterface, "Activate", {40, 10});
    EXPECT_TRUE(waitUntil([&] { return m.menu.isVisible(); }));
    m.menu.hide();

    // Bad calls are answered with errors.
    EXPECT_EQ(busCall(service, menuPath.path(), kMenuInterface, "GetLayout", {QStringLiteral("x")}).type(),
              QDBusMessage::ErrorMessage);
    EXPECT_EQ(busCall(service, menuPath.path(), kMenuInterface, "AboutToShow", {12345}).errorName(),
              QStringLiteral("com.canonical.dbusmenu.Error.UnknownId"));
    EXPECT_EQ(busCall(service, "/StatusNotifierItem", kItemInterface, "Activate", {1}).type(),
              QDBusMessage::ErrorMessage);

    // The watcher goes away: the item leaves the bus and waits on the XEmbed side again.
    watcher.stop();
    EXPECT_TRUE(waitUntil([&] { return item->host() == NSStatusItem::Host::XEmbed; }));
    EXPECT_TRUE(waitUntil([&] { return !glimra::test::nameHasOwner(service); }));
}

TEST(StatusNotifierTray, ARestartedWatcherGetsTheItemAgainAndARemovedItemLeavesTheBus) {
    if (StatusNotifierWatcher::onBus())
        GTEST_SKIP() << "a StatusNotifierWatcher already runs on this bus";
    auto watcher = std::make_unique<StatusNotifierWatcher>();
    ASSERT_TRUE(watcher->start());
    TestMenu m;
    auto item = makeItem(m);
    ASSERT_TRUE(waitUntil([&] { return watcher->items().size() == 1 && item->isVisibleInTray(); }));

    watcher = std::make_unique<StatusNotifierWatcher>();
    ASSERT_TRUE(watcher->start());
    // Exactly one registration: nothing else of this process (Qt's own tray icon) turned up there.
    ASSERT_TRUE(waitUntil([&] { return watcher->items().size() == 1 && item->isVisibleInTray(); }))
        << "registered: " << watcher->items().join(u',').toStdString();
    const QString service = watcher->items().constFirst();
    EXPECT_TRUE(glimra::test::nameHasOwner(service));

    NSStatusBar::systemStatusBar().removeStatusItem(item.get());
    EXPECT_TRUE(waitUntil([&] { return !glimra::test::nameHasOwner(service); }));
    EXPECT_FALSE(item->isVisibleInTray());
}

// ---- Neither host ----

TEST(NoTrayHost, ItemsComeAndGoWithoutAHost) {
    XClient x;
    ASSERT_TRUE(x.ok());
    if (trayRunning(x) || StatusNotifierWatcher::onBus())
        GTEST_SKIP() << "a tray host runs on this display";
    NSStatusBar& bar = NSStatusBar::systemStatusBar();
    {
        TestMenu m;
        auto item = makeItem(m);
        waitUntil([] { return false; }, 300);
        EXPECT_EQ(item->host(), NSStatusItem::Host::XEmbed);
        EXPECT_FALSE(item->isVisibleInTray());
        item->popUpMenu(QPoint(100, 100));
        EXPECT_TRUE(waitUntil([&] { return m.menu.isVisible(); }));
        m.menu.hide();

        bar.removeStatusItem(item.get());
        bar.removeStatusItem(item.get()); // once is enough: logged, ignored
        item->setImage(QIcon());
        item->setToolTip(QStringLiteral("after removal"));
        EXPECT_EQ(item->host(), NSStatusItem::Host::None);
    }
    {
        // The menu goes before the item that shows it.
        auto m = std::make_unique<TestMenu>();
        auto item = makeItem(*m);
        m.reset();
        EXPECT_EQ(item->menu(), nullptr);
        item->popUpMenu(QPoint(10, 10));
        item->setImage(QIcon());
    }
    bar.removeStatusItem(nullptr);
}

// ---- Modifier keys ----

TEST(ModifierState, ReadsTheAltKeyFromTheServerAtTheMomentOfAsking) {
    const glimra::ModifierState modifiers;
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {"keydown", "alt"}), 0);
    const bool down = waitUntil([&] { return modifiers.isOptionKeyDown(); });
    QProcess::execute(QStringLiteral("xdotool"), {"keyup", "alt"});
    EXPECT_TRUE(down);
    EXPECT_TRUE(waitUntil([&] { return !modifiers.isOptionKeyDown(); }));
}

} // namespace
