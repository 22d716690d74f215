// Screenshots on the road through the URL handler when the main application is not running, and
// while it starts.

#include "HelperLink.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <sys/stat.h>

using namespace xpc;
using namespace glimra::test;

using Delivery = HelperTest;

TEST_F(Delivery, WithoutTheMainApplicationTheScreenshotLaunchesItThroughTheUrlHandler) {
    home.registerUrlHandler(shotsDir());
    home.writeHelperSetting("StartHelperAtLogin", "true");
    ScreenCover cover(QColor(200, 40, 40));
    const mode_t umaskBefore = umask(0); // the helper, and the main application it starts, inherit it
    ASSERT_TRUE(startHelper());
    umask(umaskBefore);
    HelperConnection client;
    ASSERT_TRUE(client.sendWithReply(12));
    client.send({{"id", 6}});

    const auto shots = [&] { return QDir(shotsDir()).entryList({"*.png"}, QDir::Files); };
    ASSERT_TRUE(waitUntil([&] { return shots().size() == 1; }, 20000));
    EXPECT_TRUE(client.log.messages(3).empty()) << "nobody to ask while the main application is not running";
    EXPECT_TRUE(client.log.messages(8).empty()) << "the screenshot went to the main application";
    const QString saved = shotsDir() + "/" + shots().first();
    EXPECT_EQ(QImage(saved).pixel(100, 100), qRgb(200, 40, 40));
    EXPECT_TRUE(shots().first().startsWith("Fullscreen "));
    EXPECT_FALSE(QFile::permissions(saved) & (QFile::WriteGroup | QFile::WriteOther));

    // The folder removed meanwhile is made again for the next screenshot.
    ASSERT_TRUE(QDir(shotsDir()).removeRecursively());
    client.send({{"id", 6}});
    EXPECT_TRUE(waitUntil([&] { return shots().size() == 1; }, 20000));
}

// While the main application starts, the newest screenshot waits for it and goes to its first
// connection only.
TEST_F(Delivery, OnlyTheNewestWaitingScreenshotArrivesAndOnlyOnce) {
    const QString launches = home.path("launches");
    home.installTool("gio", QStringLiteral("echo >> '%1'").arg(launches)); // starts nothing
    const auto launched = [&] { return fileContents(launches).count('\n'); };
    home.writeHelperSetting("StartHelperAtLogin", "true");
    ScreenCover cover(QColor(255, 0, 0));
    ASSERT_TRUE(startHelper());
    HelperConnection client;
    ASSERT_TRUE(client.sendWithReply(12));
    client.send({{"id", 6}});
    ASSERT_TRUE(waitUntil([&] { return launched() == 1; }));
    ScreenCover blue(QColor(0, 0, 255));
    client.send({{"id", 6}});
    ASSERT_TRUE(waitUntil([&] { return launched() == 2; }));

    ASSERT_TRUE(mainApp.ownName(kMainAppName));
    main = std::make_unique<HelperConnection>();
    ASSERT_TRUE(main->log.waitForMessages(8, 1));
    HelperConnection again;
    ASSERT_TRUE(again.sendWithReply(12));
    QThread::msleep(500);
    EXPECT_EQ(main->log.messages(8).size(), 1u);
    EXPECT_TRUE(again.log.messages(8).empty()) << "a held screenshot goes out once";
    EXPECT_EQ(screenshot(1).image.pixel(10, 10), qRgb(0, 0, 255));
}
