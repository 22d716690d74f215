// The status item on real tray hosts of the test session: trayer for XEmbed, and a StatusNotifierWatcher
// written here that plays the host's side of the bus the way desktop panels do.

#include "TestSupport.h"
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
using glimra::test::waitUntil;

namespace {

const QString kImages = QStringLiteral(GLIMRA_TRAY_IMAGES_DIR);
const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// ---- The X side: what a tray manager did with the item's window ----

class X11 {
public:
    X11() : m_c(xcb_connect(nullptr, nullptr)) {}
    ~X11() { xcb_disconnect(m_c); }
    bool ok() const { return !xcb_connection_has_error(m_c); }

    xcb_atom_t atom(const char* name) {
        auto* r = xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : XCB_NONE;
        std::free(r);
        return a;
    }
    xcb_window_t root() { return xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root; }
    xcb_window_t selectionOwner(const char* name) {
        auto* r = xcb_get_selection_owner_reply(m_c, xcb_get_selection_owner(m_c, atom(name)), nullptr);
        const xcb_window_t w = r ? r->owner : XCB_NONE;
        std::free(r);
        return w;
    }
    bool trayRunning() { return selectionOwner("_NET_SYSTEM_TRAY_S0") != XCB_NONE; }

    std::vector<xcb_window_t> children(xcb_window_t w, xcb_window_t* parent = nullptr) {
        std::vector<xcb_window_t> result;
        auto* r = xcb_query_tree_reply(m_c, xcb_query_tree(m_c, w), nullptr);
        if (r) {
            const xcb_window_t* kids = xcb_query_tree_children(r);
            result.assign(kids, kids + xcb_query_tree_children_length(r));
            if (parent)
                *parent = r->parent;
        }
        std::free(r);
        return result;
    }
    QByteArray property(xcb_window_t w, const char* name, xcb_atom_t type) {
        auto* r = xcb_get_property_reply(m_c, xcb_get_property(m_c, 0, w, atom(name), type, 0, 256), nullptr);
        QByteArray bytes;
        if (r)
            bytes = QByteArray(static_cast<const char*>(xcb_get_property_value(r)),
                               xcb_get_property_value_length(r));
        std::free(r);
        return bytes;
    }
    qint64 pidOf(xcb_window_t w) {
        const QByteArray v = property(w, "_NET_WM_PID", XCB_ATOM_CARDINAL);
        return v.size() == 4 ? *reinterpret_cast<const quint32*>(v.constData()) : -1;
    }
    bool viewable(xcb_window_t w) {
        auto* r = xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, w), nullptr);
        const bool v = r && r->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(r);
        return v;
    }
    QRect screenRect(xcb_window_t w) {
        auto* g = xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, w), nullptr);
        auto* t =
            xcb_translate_coordinates_reply(m_c, xcb_translate_coordinates(m_c, w, root(), 0, 0), nullptr);
        QRect rect;
        if (g && t)
            rect = QRect(t->dst_x, t->dst_y, g->width, g->height);
        std::free(g);
        std::free(t);
        return rect;
    }

    // A window of this process that sits, mapped, inside a window of trayer's.
    std::optional<QRect> iconDockedInTrayer() { return search(root(), false); }

private:
    std::optional<QRect> search(xcb_window_t w, bool insideTrayer) {
        const bool trayer = insideTrayer || property(w, "WM_CLASS", XCB_ATOM_STRING).contains("trayer");
        for (xcb_window_t child : children(w)) {
            if (trayer && pidOf(child) == getpid() && viewable(child))
                return screenRect(child);
            if (auto found = search(child, trayer))
                return found;
        }
        return std::nullopt;
    }

    xcb_connection_t* m_c;
};

// trayer on the test session's display, stopped by its PID when the test ends.
class Trayer {
public:
    Trayer() {
        m_process.start(QStringLiteral("trayer"),
                        {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
                         "--SetDockType", "true", "--SetPartialStrut", "false"});
        m_process.waitForStarted(5000);
    }
    ~Trayer() { stop(); }
    bool waitUntilRunning(X11& x) {
        return waitUntil([&] { return x.trayRunning(); }, 10000);
    }
    void stop() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }

private:
    QProcess m_process;
};

// ---- The bus side: a StatusNotifierWatcher as a desktop panel runs one ----

class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    explicit FakeWatcher(QString connectionName) : m_connectionName(std::move(connectionName)) {}
    QStringList registeredItems() const {
        QMutexLocker lock(&m_mutex);
        return m_items;
    }
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

public slots:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message) {
        // An item names its service, or only its path on the caller's connection.
        const QString item = service.startsWith(u'/') ? message.service() + service : service;
        {
            QMutexLocker lock(&m_mutex);
            m_items << item;
        }
        QDBusMessage signal = QDBusMessage::createSignal(kWatcherPath, kWatcherService,
                                                         QStringLiteral("StatusNotifierItemRegistered"));
        signal << item;
        QDBusConnection(m_connectionName).send(signal);
    }
    void RegisterStatusNotifierHost(const QString&) {}

private:
    const QString m_connectionName;
    mutable QMutex m_mutex;
    QStringList m_items;
};

// The watcher answers from a thread of its own, as another process would, so nothing here depends on
// the tray code never blocking on it.
class WatcherRunner {
public:
    WatcherRunner() : m_watcher(std::make_unique<FakeWatcher>(m_name)) {
        m_watcher->moveToThread(&m_thread);
        m_thread.start();
    }
    ~WatcherRunner() {
        stop();
        m_thread.quit();
        m_thread.wait();
    }
    bool start() {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_name);
        m_running =
            bus.registerObject(kWatcherPath, m_watcher.get(),
                               QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) &&
            bus.registerService(kWatcherService);
        bus.send(QDBusMessage::createSignal(kWatcherPath, kWatcherService,
                                            QStringLiteral("StatusNotifierHostRegistered")));
        return m_running;
    }
    void stop() {
        if (!m_running)
            return;
        QDBusConnection bus(m_name);
        bus.unregisterService(kWatcherService);
        bus.unregisterObject(kWatcherPath);
        QDBusConnection::disconnectFromBus(m_name);
        m_running = false;
    }
    QStringList items() const { return m_watcher->registeredItems(); }

private:
    const QString m_name = QStringLiteral("fake-status-notifier-watcher");
    QThread m_thread;
    std::unique_ptr<FakeWatcher> m_watcher;
    bool m_running = false;
};

// Calls are asynchronous: the item answers from this very thread.
QDBusMessage call(const QString& service, const QString& path, const QString& iface, const QString& method,
                  const QVariantList& args = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, iface, method);
    message.setArguments(args);
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, 5000);
    waitUntil([&] { return pending.isFinished(); }, 6000);
    return pending.reply();
}

QVariant property(const QString& service, const QString& path, const QString& iface, const QString& name) {
    const QDBusMessage reply = call(service, path, kProperties, QStringLiteral("Get"), {iface, name});
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

// Mean difference per colour channel, 0 to 255; images of different sizes differ completely.
double difference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return 255;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum +=
                std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * a.width() * a.height());
}

bool watcherOnBus() {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(kWatcherService);
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
    X11 x;
    ASSERT_TRUE(x.ok());
    if (x.trayRunning() || watcherOnBus())
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
    ASSERT_TRUE(trayer.waitUntilRunning(x));
    std::optional<QRect> docked;
    ASSERT_TRUE(waitUntil([&] { return (docked = x.iconDockedInTrayer()).has_value(); }, 10000));
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
    EXPECT_TRUE(waitUntil([&] { return !x.iconDockedInTrayer(); }));
}

// ---- StatusNotifierItem ----

TEST(StatusNotifierTray, LateWatcherGetsTheItemAndItsHostDrivesTheMenu) {
    if (watcherOnBus())
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

    WatcherRunner watcher;
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
    QDBusMessage reply = call(service, menuPath.path(), kMenuInterface, "AboutToShow", {0});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(reply.arguments().value(0).toBool());
    EXPECT_EQ(icon22(property(service, "/StatusNotifierItem", kItemInterface, "IconPixmap")),
              artwork("HelperMenuPressed.png"));

    reply = call(service, menuPath.path(), kMenuInterface, "GetLayout", {0, -1, QStringList()});
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
    reply = call(service, menuPath.path(), kMenuInterface, "Event",
                 {root.children[3].id, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(waitUntil([&] { return quitTriggered == 1; }));
    call(service, menuPath.path(), kMenuInterface, "Event",
         {0, "closed", QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(icon22(property(service, "/StatusNotifierItem", kItemInterface, "IconPixmap")),
              artwork("HelperMenu.png"));

    // Opening with Alt held shows the Alt item again.
    altHeld = true;
    reply = call(service, menuPath.path(), kMenuInterface, "AboutToShow", {0});
    EXPECT_TRUE(reply.arguments().value(0).toBool());
    reply = call(service, menuPath.path(), kMenuInterface, "GetLayout", {0, -1, QStringList{"visible"}});
    EXPECT_TRUE(parseNode(reply.arguments().value(1).value<QDBusArgument>())
                    .children[1]
                    .properties.value("visible")
                    .toBool());
    call(service, menuPath.path(), kMenuInterface, "Event",
         {0, "closed", QVariant::fromValue(QDBusVariant(0)), 0u});

    // A host that cannot draw menus asks the application to show it.
    call(service, "/StatusNotifierItem", kItemInterface, "Activate", {40, 10});
    EXPECT_TRUE(waitUntil([&] { return m.menu.isVisible(); }));
    m.menu.hide();

    // Bad calls are answered with errors.
    EXPECT_EQ(call(service, menuPath.path(), kMenuInterface, "GetLayout", {QStringLiteral("x")}).type(),
              QDBusMessage::ErrorMessage);
    EXPECT_EQ(call(service, menuPath.path(), kMenuInterface, "AboutToShow", {12345}).errorName(),
              QStringLiteral("com.canonical.dbusmenu.Error.UnknownId"));
    EXPECT_EQ(call(service, "/StatusNotifierItem", kItemInterface, "Activate", {1}).type(),
              QDBusMessage::ErrorMessage);

    // The watcher goes away: the item leaves the bus and waits on the XEmbed side again.
    watcher.stop();
    EXPECT_TRUE(waitUntil([&] { return item->host() == NSStatusItem::Host::XEmbed; }));
    EXPECT_TRUE(waitUntil([&] { return !glimra::test::nameHasOwner(service); }));
}

TEST(StatusNotifierTray, ARestartedWatcherGetsTheItemAgainAndARemovedItemLeavesTheBus) {
    if (watcherOnBus())
        GTEST_SKIP() << "a StatusNotifierWatcher already runs on this bus";
    auto watcher = std::make_unique<WatcherRunner>();
    ASSERT_TRUE(watcher->start());
    TestMenu m;
    auto item = makeItem(m);
    ASSERT_TRUE(waitUntil([&] { return watcher->items().size() == 1 && item->isVisibleInTray(); }));

    watcher = std::make_unique<WatcherRunner>();
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
    X11 x;
    ASSERT_TRUE(x.ok());
    if (x.trayRunning() || watcherOnBus())
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

#include "TrayTests.moc"
