// The real helper's status item on tray hosts of the test session: docked in trayer (XEmbed), and
// driven through its menu by a StatusNotifierWatcher standing in for a desktop panel.

#include "HelperLink.h"
#include "TrayHosts.h"

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
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString kImages = QStringLiteral(GLIMRA_HELPER_BUNDLE_DIR "/Contents/Resources/images");

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

class HelperStatusItem : public HelperTest {
protected:
    void TearDown() override {
        mainApp.releaseName(kMainName);
        HelperTest::TearDown();
    }

    // Chooses "Quit Glimra and Helper" the way a panel does: opens the menu, reads it, clicks.
    void chooseQuit(const QString& service) {
        QDBusMessage reply = busCall(service, "/MenuBar", kMenuInterface, "AboutToShow", {0});
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        reply = busCall(service, "/MenuBar", kMenuInterface, "GetLayout", {0, -1, QStringList()});
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        const int quit = findItem(reply.arguments().value(1).value<QDBusArgument>(),
                                  QStringLiteral("Quit Glimra and Helper"));
        ASSERT_NE(quit, 0);
        busCall(service, "/MenuBar", kMenuInterface, "Event",
                {quit, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    }
    // The helper's item as the watcher got it.
    QString registeredItem(const StatusNotifierWatcher& watcher) {
        EXPECT_TRUE(waitUntil([&] { return watcher.items().size() == 1; }, 10000))
            << helperOutput().toStdString();
        return watcher.items().value(0);
    }
};

TEST_F(HelperStatusItem, DocksInAnXEmbedTray) {
    XClient x;
    ASSERT_TRUE(x.ok());
    if (trayRunning(x) || StatusNotifierWatcher::onBus())
        GTEST_SKIP() << "another tray host runs in this session";
    Trayer trayer;
    ASSERT_TRUE(waitUntil([&] { return trayRunning(x); }, 10000));
    home.writeHelperSetting("StartHelperAtLogin", "true");
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();

    std::optional<DockedIcon> icon;
    ASSERT_TRUE(waitUntil([&] { return (icon = iconDockedInTrayer(x, helper->pid())).has_value(); }, 10000))
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
    if (StatusNotifierWatcher::onBus())
        GTEST_SKIP() << "a StatusNotifierWatcher already runs on this bus";
    StatusNotifierWatcher watcher;
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
    if (StatusNotifierWatcher::onBus())
        GTEST_SKIP() << "a StatusNotifierWatcher already runs on this bus";
    StatusNotifierWatcher watcher;
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
