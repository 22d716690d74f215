// The real helper's status item on tray hosts of the test session: docked in trayer (XEmbed), and
// driven through its menu by a StatusNotifierWatcher standing in for a desktop panel.

#include "HelperLink.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QGuiApplication>
#include <QMutex>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QThread>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

using namespace xpc;
using namespace glimra::test;

namespace {

const QString kMainName = QStringLiteral("app.glimra.Glimra");
const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString kImages = QStringLiteral(GLIMRA_HELPER_BUNDLE_DIR "/Contents/Resources/images");

// ---- XEmbed: what trayer did with the helper's window ----

class X11 {
public:
    X11() : m_c(xcb_connect(nullptr, nullptr)) {}
    ~X11() { xcb_disconnect(m_c); }
    X11(const X11&) = delete;
    X11& operator=(const X11&) = delete;
    bool ok() const { return !xcb_connection_has_error(m_c); }

    bool trayRunning() {
        auto* r = xcb_get_selection_owner_reply(
            m_c, xcb_get_selection_owner(m_c, atom("_NET_SYSTEM_TRAY_S0")), nullptr);
        const bool owned = r && r->owner != XCB_NONE;
        std::free(r);
        return owned;
    }

    struct Icon {
        xcb_window_t window;
        QRect rect;
    };
    // A mapped window of process pid somewhere inside a window of trayer's.
    std::optional<Icon> iconDockedInTrayer(qint64 pid) { return search(root(), false, pid); }

    QByteArray property(xcb_window_t w, const char* name) {
        auto* r = xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, w, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr);
        QByteArray bytes;
        if (r)
            bytes = QByteArray(static_cast<const char*>(xcb_get_property_value(r)),
                               xcb_get_property_value_length(r));
        std::free(r);
        return bytes;
    }

private:
    xcb_atom_t atom(const char* name) {
        auto* r = xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : XCB_NONE;
        std::free(r);
        return a;
    }
    xcb_window_t root() { return xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root; }
    std::vector<xcb_window_t> children(xcb_window_t w) {
        std::vector<xcb_window_t> result;
        if (auto* r = xcb_query_tree_reply(m_c, xcb_query_tree(m_c, w), nullptr)) {
            const xcb_window_t* kids = xcb_query_tree_children(r);
            result.assign(kids, kids + xcb_query_tree_children_length(r));
            std::free(r);
        }
        return result;
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
    std::optional<Icon> search(xcb_window_t w, bool insideTrayer, qint64 pid) {
        const bool trayer = insideTrayer || property(w, "WM_CLASS").contains("trayer");
        for (xcb_window_t child : children(w)) {
            const QByteArray owner = property(child, "_NET_WM_PID");
            if (trayer && owner.size() == 4 && *reinterpret_cast<const quint32*>(owner.constData()) == pid &&
                viewable(child))
                return Icon{child, screenRect(child)};
            if (auto found = search(child, trayer, pid))
                return found;
        }
        return std::nullopt;
    }

    xcb_connection_t* m_c;
};

class Trayer {
public:
    Trayer() {
        m_process.start(QStringLiteral("trayer"),
                        {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
                         "--SetDockType", "true", "--SetPartialStrut", "false"});
        m_process.waitForStarted(5000);
    }
    ~Trayer() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }
    Trayer(const Trayer&) = delete;
    Trayer& operator=(const Trayer&) = delete;

private:
    QProcess m_process;
};

// ---- StatusNotifierItem: a watcher with a host, as a desktop panel runs one ----

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

// Answers from a thread of its own, as another process would.
class WatcherRunner {
public:
    WatcherRunner() : m_watcher(std::make_unique<FakeWatcher>(m_name)) {
        m_watcher->moveToThread(&m_thread);
        m_thread.start();
    }
    ~WatcherRunner() {
        if (m_running) {
            QDBusConnection bus(m_name);
            bus.unregisterService(kWatcherService);
            bus.unregisterObject(kWatcherPath);
            QDBusConnection::disconnectFromBus(m_name);
        }
        m_thread.quit();
        m_thread.wait();
    }
    WatcherRunner(const WatcherRunner&) = delete;
    WatcherRunner& operator=(const WatcherRunner&) = delete;

    bool start() {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_name);
        m_running =
            bus.registerObject(kWatcherPath, m_watcher.get(),
                               QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) &&
            bus.registerService(kWatcherService);
        return m_running;
    }
    QStringList items() const { return m_watcher->registeredItems(); }

private:
    const QString m_name = QStringLiteral("fake-status-notifier-watcher");
    QThread m_thread;
    std::unique_ptr<FakeWatcher> m_watcher;
    bool m_running = false;
};

QDBusMessage call(const QString& service, const QString& path, const QString& iface, const QString& method,
                  const QVariantList& args = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, iface, method);
    message.setArguments(args);
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, 5000);
    waitUntil([&] { return pending.isFinished(); }, 6000);
    return pending.reply();
}

// The id of the item with this label in a GetLayout answer, 0 when there is none.
int findItem(const QDBusArgument& arg, const QString& label) {
    int id = 0, found = 0;
    QVariantMap properties;
    arg.beginStructure();
    arg >> id >> properties;
    if (properties.value(QStringLiteral("label")).toString() == label)
        found = id;
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        if (const int inChild = findItem(child.variant().value<QDBusArgument>(), label); inChild && !found)
            found = inChild;
    }
    arg.endArray();
    arg.endStructure();
    return found;
}

bool watcherOnBus() {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(kWatcherService);
}

// Mean difference per colour channel, 0 to 255; images of different sizes differ completely.
double difference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return 255;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum +=
                std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

class HelperStatusItem : public HelperTest {
protected:
    void TearDown() override {
        mainApp.releaseName(kMainName);
        HelperTest::TearDown();
    }

    // Chooses "Quit Glimra and Helper" the way a panel does: opens the menu, reads it, clicks.
    void chooseQuit(const QString& service) {
        QDBusMessage reply = call(service, "/MenuBar", kMenuInterface, "AboutToShow", {0});
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        reply = call(service, "/MenuBar", kMenuInterface, "GetLayout", {0, -1, QStringList()});
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        const int quit = findItem(reply.arguments().value(1).value<QDBusArgument>(),
                                  QStringLiteral("Quit Glimra and Helper"));
        ASSERT_NE(quit, 0);
        call(service, "/MenuBar", kMenuInterface, "Event",
             {quit, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    }
    // The helper's item as the watcher got it.
    QString registeredItem(const WatcherRunner& watcher) {
        EXPECT_TRUE(waitUntil([&] { return watcher.items().size() == 1; }, 10000))
            << helperOutput().toStdString();
        return watcher.items().value(0);
    }
};

TEST_F(HelperStatusItem, DocksInAnXEmbedTray) {
    X11 x;
    ASSERT_TRUE(x.ok());
    if (x.trayRunning() || watcherOnBus())
        GTEST_SKIP() << "another tray host runs in this session";
    Trayer trayer;
    ASSERT_TRUE(waitUntil([&] { return x.trayRunning(); }, 10000));
    home.writeHelperSetting("StartHelperAtLogin", "true");
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();

    std::optional<X11::Icon> icon;
    ASSERT_TRUE(waitUntil([&] { return (icon = x.iconDockedInTrayer(helper->pid())).has_value(); }, 10000))
        << helperOutput().toStdString();
    EXPECT_FALSE(x.property(icon->window, "_XEMBED_INFO").isEmpty());

    // What shows is the helper's artwork.
    const QImage art = QImage(kImages + "/HelperMenu.png").convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(art.isNull());
    ASSERT_EQ(icon->rect.size(), art.size());
    const auto shown = [&] {
        const QImage grab = QGuiApplication::primaryScreen()
                                ->grabWindow(0, icon->rect.x(), icon->rect.y(), art.width(), art.height())
                                .toImage();
        QImage expected(art.size(), QImage::Format_RGB32);
        expected.fill(grab.pixel(0, 0)); // see-through in the artwork
        QPainter(&expected).drawImage(0, 0, art);
        return difference(grab.convertToFormat(QImage::Format_RGB32), expected);
    };
    EXPECT_TRUE(waitUntil([&] { return shown() < 4.0; }, 3000)) << "differs by " << shown();
}

TEST_F(HelperStatusItem, QuitFromTheMenuEndsTheMainApplicationAndTheHelper) {
    if (watcherOnBus())
        GTEST_SKIP() << "a StatusNotifierWatcher already runs on this bus";
    WatcherRunner watcher;
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(mainApp.ownName(kMainName));
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();
    HelperConnection main;
    ASSERT_TRUE(main.sendWithReply(12));
    const QString service = registeredItem(watcher);
    ASSERT_FALSE(service.isEmpty());

    ASSERT_NO_FATAL_FAILURE(chooseQuit(service));
    EXPECT_TRUE(main.log.waitForMessages(9, 1)) << helperOutput().toStdString();
    ASSERT_TRUE(helper->waitForExit(10000)) << helperOutput().toStdString();
    EXPECT_EQ(helper->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper->exitCode(), 0);
    EXPECT_EQ(main.log.messages(9).size(), 1u);
}

TEST_F(HelperStatusItem, QuitFromTheMenuWithoutTheMainApplicationEndsTheHelper) {
    if (watcherOnBus())
        GTEST_SKIP() << "a StatusNotifierWatcher already runs on this bus";
    WatcherRunner watcher;
    ASSERT_TRUE(watcher.start());
    home.writeHelperSetting("StartHelperAtLogin", "true");
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();
    const QString service = registeredItem(watcher);
    ASSERT_FALSE(service.isEmpty());

    ASSERT_NO_FATAL_FAILURE(chooseQuit(service));
    ASSERT_TRUE(helper->waitForExit(10000)) << helperOutput().toStdString();
    EXPECT_EQ(helper->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper->exitCode(), 0);
}

} // namespace

#include "HelperStatusItemTests.moc"
