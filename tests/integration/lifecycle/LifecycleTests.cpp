// The real helper on the private session bus: when it stays, when it quits, one per session.

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

using namespace glimra::test;

namespace {

const QString kHelperName = QStringLiteral("app.glimra.GlimraHelper");
const QString kMainName = QStringLiteral("app.glimra.Glimra");

void postNotification(BusClient& client, const QString& name) {
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/app/glimra/DistributedNotificationCenter"),
        QStringLiteral("app.glimra.DistributedNotificationCenter"), QStringLiteral("Posted"));
    signal << name << QString();
    client.connection().send(signal);
}

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(nameHasOwner(kHelperName)) << "a helper from elsewhere is running"; }
    std::unique_ptr<Program> startHelper(const QString& executable = helperExecutable()) {
        return std::make_unique<Program>(executable, QStringList{}, home.environment());
    }
    // A helper that stays: the main application's name is owned by this test.
    std::unique_ptr<Program> startServingHelper() {
        auto helper = startHelper();
        EXPECT_TRUE(waitUntil([] { return nameHasOwner(kHelperName); })) << helper->output().toStdString();
        return helper;
    }
    IsolatedHome home;
    BusClient mainApp;
};

} // namespace

TEST_F(Lifecycle, QuitsAtOnceWithoutMainAppOrStartAtLogin) {
    QElapsedTimer timer;
    timer.start();
    auto helper = startHelper();
    bool claimed = false;
    const bool exited = waitUntil(
        [&] {
            claimed = claimed || nameHasOwner(kHelperName);
            return !helper->isRunning();
        },
        5000);
    const qint64 ms = timer.elapsed();
    RecordProperty("exit_ms", int(ms));
    ASSERT_TRUE(exited);
    EXPECT_EQ(helper->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper->exitCode(), 0);
    EXPECT_FALSE(claimed);
    EXPECT_TRUE(helper->output().contains("Finished launching Glimra Helper version 1.0.0 (100) at path " +
                                          QStringLiteral(GLIMRA_HELPER_BUNDLE_DIR)))
        << helper->output().toStdString();
    std::printf("helper quit %lld ms after launch\n", static_cast<long long>(ms));
}

TEST_F(Lifecycle, StaysWhenStartAtLoginIsOn) {
    home.writeHelperSetting("StartHelperAtLogin", "true");
    auto helper = startServingHelper();
    QThread::msleep(300);
    EXPECT_TRUE(helper->isRunning());
}

TEST_F(Lifecycle, FollowsTheMainApplicationAndIgnoresOtherNames) {
    ASSERT_TRUE(mainApp.ownName(kMainName));
    auto helper = startServingHelper();

    BusClient other;
    ASSERT_TRUE(other.ownName("app.glimra.SomethingElse"));
    other.releaseName("app.glimra.SomethingElse");
    QThread::msleep(300);
    QCoreApplication::processEvents();
    EXPECT_TRUE(helper->isRunning());

    mainApp.releaseName(kMainName);
    ASSERT_TRUE(helper->waitForExit(5000));
    EXPECT_EQ(helper->exitCode(), 0);
    EXPECT_FALSE(nameHasOwner(kHelperName));
}

TEST_F(Lifecycle, TerminateNotificationEndsItAndASecondOneIsHarmless) {
    home.writeHelperSetting("StartHelperAtLogin", "true");
    auto helper = startServingHelper();
    BusClient poster;
    postNotification(poster, "SomeOtherNotification");
    QThread::msleep(200);
    EXPECT_TRUE(helper->isRunning());
    postNotification(poster, "GlimraHelperAppTerminate");
    postNotification(poster, "GlimraHelperAppTerminate");
    ASSERT_TRUE(helper->waitForExit(5000));
    EXPECT_EQ(helper->exitCode(), 0);
}

TEST_F(Lifecycle, ASecondHelperExitsAtOnce) {
    home.writeHelperSetting("StartHelperAtLogin", "true");
    auto first = startServingHelper();
    auto second = startHelper();
    ASSERT_TRUE(second->waitForExit(5000));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(second->output().contains("already runs in this session")) << second->output().toStdString();
    EXPECT_FALSE(second->output().contains("Finished launching")) << second->output().toStdString();
    EXPECT_TRUE(first->isRunning());
    EXPECT_TRUE(nameHasOwner(kHelperName));
}

TEST_F(Lifecycle, WithoutASessionBusItSaysSoAndFails) {
    home.writeHelperSetting("StartHelperAtLogin", "true");
    QProcessEnvironment env = home.environment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + home.path("no-bus"));
    Program helper(helperExecutable(), {}, env);
    ASSERT_TRUE(helper.waitForExit(5000));
    EXPECT_NE(helper.exitCode(), 0);
    EXPECT_TRUE(helper.output().contains("No session bus to join")) << helper.output().toStdString();
    EXPECT_FALSE(helper.output().contains("already runs")) << helper.output().toStdString();
}

TEST_F(Lifecycle, TerminationSignalQuitsCleanly) {
    home.writeHelperSetting("StartHelperAtLogin", "true");
    auto helper = startServingHelper();
    helper->terminate();
    ASSERT_TRUE(helper->waitForExit(5000));
    EXPECT_EQ(helper->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper->exitCode(), 0);
}

// The registered defaults come from the bundle; a copy of the bundle with its plist changed shows
// both that they are registered and that a broken one registers nothing.
TEST_F(Lifecycle, RegisteredDefaultsComeFromTheBundleAndABrokenFileRegistersNothing) {
    const QString bundle = home.path("Copy.app");
    ASSERT_TRUE(QDir().mkpath(bundle + "/Contents/MacOS"));
    ASSERT_TRUE(QDir().mkpath(bundle + "/Contents/Resources"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(GLIMRA_HELPER_BUNDLE_DIR "/Contents/Info.plist"),
                            bundle + "/Contents/Info.plist"));
    ASSERT_TRUE(QFile::copy(helperExecutable(), bundle + "/Contents/MacOS/GlimraHelper"));
    const QString plist = bundle + "/Contents/Resources/HelperUserDefaults.plist";
    auto write = [&](const QByteArray& content) {
        QFile file(plist);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    };

    write("<?xml version=\"1.0\"?><plist "
          "version=\"1.0\"><dict><key>StartHelperAtLogin</key><true/></dict></plist>");
    auto staying = startHelper(bundle + "/Contents/MacOS/GlimraHelper");
    ASSERT_TRUE(waitUntil([] { return nameHasOwner(kHelperName); })) << staying->output().toStdString();
    staying->terminate();
    ASSERT_TRUE(staying->waitForExit());

    write("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>StartHelperAtLogin</key><true/>");
    auto broken = startHelper(bundle + "/Contents/MacOS/GlimraHelper");
    ASSERT_TRUE(broken->waitForExit());
    EXPECT_EQ(broken->exitCode(), 0);
    EXPECT_TRUE(broken->output().contains("Finished launching")) << broken->output().toStdString();

    QFile::remove(plist);
    auto missing = startHelper(bundle + "/Contents/MacOS/GlimraHelper");
    ASSERT_TRUE(missing->waitForExit());
    EXPECT_EQ(missing->exitCode(), 0);

    // Without defaults the helper still serves when the main application runs.
    ASSERT_TRUE(mainApp.ownName(kMainName));
    auto serving = startHelper(bundle + "/Contents/MacOS/GlimraHelper");
    EXPECT_TRUE(waitUntil([] { return nameHasOwner(kHelperName); })) << serving->output().toStdString();
}
