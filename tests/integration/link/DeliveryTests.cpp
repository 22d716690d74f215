// Screenshots from capture to the main application: pixels, size, title, and the road through
// the URL handler when the main application is not running.

#include "HelperLink.h"

#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QThread>

#include <csignal>
#include <sys/stat.h>

using namespace xpc;
using namespace glimra::test;

namespace {

const QString kMainName = QStringLiteral("app.glimra.Glimra");

QImage decodePng(const xpc_object_t& screenshot) {
    QImage image;
    image.loadFromData(xpc_dictionary_get_data(screenshot, "PNGData"), "PNG");
    return image.convertToFormat(QImage::Format_RGB32);
}

class Delivery : public HelperTest {
protected:
    QStringList shots() { return QDir(shotsDir()).entryList({"*.png"}, QDir::Files); }
};

} // namespace

TEST_F(Delivery, FullScreenCaptureDeliversTheScreenPixelForPixel) {
    const QImage pattern = testPattern({1920, 1080}, 7);
    ScreenCover cover(pattern);
    ASSERT_TRUE(mainApp.ownName(kMainName));
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();
    HelperConnection main(HelperConnection::Answer::Allow);
    ASSERT_TRUE(main.sendWithReply(12));

    for (uint64_t kind : {6u, 7u}) {
        const size_t before = main.log.messages(8).size();
        main.send({{"id", kind}});
        ASSERT_TRUE(main.log.waitForMessages(8, before + 1)) << helperOutput().toStdString();
        const xpc_object_t shot = main.log.messages(8).back();
        EXPECT_EQ(xpc_dictionary_get_uint64(shot, "width"), 1920u);
        EXPECT_EQ(xpc_dictionary_get_uint64(shot, "height"), 1080u);
        EXPECT_TRUE(
            QString::fromStdString(xpc_dictionary_get_string(shot, "title")).startsWith("Fullscreen "));
        EXPECT_EQ(decodePng(shot), pattern) << "kind " << kind;
    }
    EXPECT_EQ(main.log.messages(3).size(), 2u) << "each capture asks first";
    // Nothing held: the previous area is still unknown after full-screen captures.
    xpc_object_t reply = main.sendWithReply(15);
    ASSERT_TRUE(reply);
    EXPECT_FALSE(xpc_dictionary_get_bool(reply, "bool"));
}

TEST_F(Delivery, HighResolutionScreensReportHalfThePixelSize) {
    home.writeHelperSetting("StartHelperAtLogin", "true");
    // The helper's own environment makes its screen a scale-2 screen.
    IsolatedHome& h = home;
    QProcessEnvironment env = h.environment();
    env.insert("QT_SCALE_FACTOR", "2");
    ScreenCover cover(QColor(10, 200, 30));
    helper = std::make_unique<Program>(helperExecutable(), QStringList{}, env);
    ASSERT_TRUE(waitUntil([&] { return ready->count() > 0; }, 10000)) << helperOutput().toStdString();
    ASSERT_TRUE(mainApp.ownName(kMainName));
    HelperConnection client;
    ASSERT_TRUE(client.sendWithReply(12));
    client.send({{"id", 6}});
    ASSERT_TRUE(client.log.waitForMessages(8, 1)) << helperOutput().toStdString();
    const xpc_object_t shot = client.log.messages(8).back();
    const QImage image = decodePng(shot);
    EXPECT_EQ(image.size(), QSize(1920, 1080));
    EXPECT_EQ(xpc_dictionary_get_uint64(shot, "width"), 960u);
    EXPECT_EQ(xpc_dictionary_get_uint64(shot, "height"), 540u);
    EXPECT_EQ(image.pixel(5, 5), qRgb(10, 200, 30));
}

TEST_F(Delivery, WithoutTheMainApplicationTheScreenshotWaitsAndLaunchesIt) {
    home.registerUrlHandler(shotsDir());
    home.writeHelperSetting("StartHelperAtLogin", "true");
    ScreenCover cover(QColor(200, 40, 40));
    const mode_t umaskBefore = umask(0); // the helper, and the main application it starts, inherit it
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();
    umask(umaskBefore);
    HelperConnection client(HelperConnection::Answer::Allow);
    ASSERT_TRUE(client.sendWithReply(12));
    client.send({{"id", 6}});

    ASSERT_TRUE(waitUntil([&] { return shots().size() == 1; }, 20000)) << helperOutput().toStdString();
    QThread::msleep(800);
    ASSERT_EQ(shots().size(), 1u) << "delivered exactly once";
    EXPECT_TRUE(client.log.messages(3).empty()) << "nobody to ask while the main application is not running";
    EXPECT_TRUE(client.log.messages(8).empty()) << "the screenshot went to the main application";
    QImage saved(shotsDir() + "/" + shots().first());
    EXPECT_EQ(saved.pixel(100, 100), qRgb(200, 40, 40));
    EXPECT_TRUE(shots().first().startsWith("Fullscreen "));
    EXPECT_FALSE(QFile::permissions(shotsDir() + "/" + shots().first()) &
                 (QFile::WriteGroup | QFile::WriteOther));
}

TEST_F(Delivery, OfTwoWaitingScreenshotsOnlyTheSecondArrives) {
    home.registerUrlHandler(shotsDir(), 3000);
    home.writeHelperSetting("StartHelperAtLogin", "true");
    ScreenCover cover(QColor(255, 0, 0));
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();
    HelperConnection client;
    ASSERT_TRUE(client.sendWithReply(12));
    client.send({{"id", 6}});
    // The first capture is taken well before the second is asked for.
    QThread::msleep(800);
    cover.show([] {
        QImage blue(1920, 1080, QImage::Format_RGB32);
        blue.fill(QColor(0, 0, 255));
        return blue;
    }());
    client.send({{"id", 6}});

    ASSERT_TRUE(waitUntil([&] { return shots().size() >= 1; }, 20000)) << helperOutput().toStdString();
    QThread::msleep(1000);
    ASSERT_EQ(shots().size(), 1u);
    EXPECT_EQ(QImage(shotsDir() + "/" + shots().first()).pixel(10, 10), qRgb(0, 0, 255));
}

TEST_F(Delivery, WithoutAUrlHandlerTheMainBundleIsStartedDirectly) {
    home.writeHelperSetting("StartHelperAtLogin", "true");
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();
    HelperConnection client;
    ASSERT_TRUE(client.sendWithReply(12));
    client.send({{"id", 6}});
    ASSERT_TRUE(helper->waitForLogLine("Failed to launch main app with URL glimra:///", 15000))
        << helperOutput().toStdString();
    // The bundle's own executable runs without arguments and saves to the pictures folder.
    const QString pictures = home.path("Pictures/Glimra");
    EXPECT_TRUE(waitUntil([&] { return !QDir(pictures).entryList({"*.png"}, QDir::Files).isEmpty(); }, 20000))
        << helperOutput().toStdString();
}
