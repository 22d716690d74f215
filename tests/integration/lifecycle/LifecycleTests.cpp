// The real helper on the private session bus: when it quits, one per session. Whether it stays at
// launch (for the main application, at login, or not at all) is driven on the installed tree.

#include "HelperLink.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFile>
#include <QThread>

#include <csignal>

using namespace glimra::test;

namespace {

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(nameHasOwner(kHelperName)) << "a helper from elsewhere is running"; }
    std::unique_ptr<Program> startHelper(const QString& executable = kHelperExecutable) {
        return std::make_unique<Program>(executable, QStringList{}, home.environment());
    }
    // A helper that stays serves its bus name.
    std::unique_ptr<Program> startServingHelper() {
        auto helper = startHelper();
        EXPECT_TRUE(waitUntil([] { return nameHasOwner(kHelperName); }));
        return helper;
    }
    void postNotification(const QString& name) {
        QDBusMessage signal =
            QDBusMessage::createSignal("/app/glimra/DistributedNotificationCenter",
                                       "app.glimra.DistributedNotificationCenter", "Posted");
        signal << name << QString();
        mainApp.connection().send(signal);
    }
    IsolatedHome home;
    BusClient mainApp;
};

} // namespace

TEST_F(Lifecycle, FollowsTheMainApplicationAndIgnoresOtherNames) {
    ASSERT_TRUE(mainApp.ownName(kMainAppName));
    auto helper = startServingHelper();
    BusClient other;
    ASSERT_TRUE(other.ownName("app.glimra.SomethingElse"));
    other.releaseName("app.glimra.SomethingElse");
    QThread::msleep(300);
    EXPECT_TRUE(helper->isRunning());

    mainApp.releaseName(kMainAppName);
    ASSERT_TRUE(helper->waitForExit());
    EXPECT_EQ(helper->exitCode(), 0);
    EXPECT_FALSE(nameHasOwner(kHelperName));
}

// A second helper exits at once; the terminate notification ends the first, a second one is harmless.
TEST_F(Lifecycle, OneHelperPerSessionUntilTheTerminateNotification) {
    home.writeHelperSetting("StartHelperAtLogin", "true");
    auto first = startServingHelper();
    auto second = startHelper();
    ASSERT_TRUE(second->waitForExit());
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(second->output().contains("already runs in this session"));
    EXPECT_FALSE(second->output().contains("Finished launching"));

    postNotification("SomeOtherNotification");
    QThread::msleep(200);
    EXPECT_TRUE(first->isRunning());
    postNotification("GlimraHelperAppTerminate");
    postNotification("GlimraHelperAppTerminate");
    ASSERT_TRUE(first->waitForExit());
    EXPECT_EQ(first->exitCode(), 0);
}

// Without a session bus or a display to reach, the helper says which and exits with a status (which
// also fails a bus activation's call at once), rather than being ended by a signal.
struct Missing {
    const char* name;
    std::vector<std::pair<const char*, const char*>> environment; // "~/" is the test's home
    const char* said;
};

class WithoutWhatItNeeds : public Lifecycle, public ::testing::WithParamInterface<Missing> {};

TEST_P(WithoutWhatItNeeds, ItSaysSoAndFails) {
    home.writeHelperSetting("StartHelperAtLogin", "true");
    for (const auto& [name, value] : GetParam().environment)
        home.setVariable(name, QString::fromUtf8(value).replace(QStringLiteral("~/"), home.path() + u'/'));
    auto helper = startHelper();
    ASSERT_TRUE(helper->waitForExit());
    EXPECT_EQ(helper->exitStatus(), QProcess::NormalExit);
    EXPECT_NE(helper->exitCode(), 0);
    EXPECT_TRUE(helper->output().contains(GetParam().said));
    EXPECT_FALSE(helper->output().contains("already runs"));
}

INSTANTIATE_TEST_SUITE_P(
    Lifecycle, WithoutWhatItNeeds,
    ::testing::Values(
        Missing{"SessionBus", {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=~/no-bus"}}, "No session bus to join"},
        Missing{"Display", {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}, "No display to show on"},
        Missing{"UnreachableDisplays",
                {{"DISPLAY", ":65000"}, {"WAYLAND_DISPLAY", "~/no-wayland"}, {"XDG_SESSION_TYPE", "wayland"}},
                "no-wayland; cannot connect to the X display :65000"}),
    caseName);

// The registered defaults come from the bundle: a copy of the bundle with its property list changed
// shows both that they are registered and that a broken one registers nothing.
TEST_F(Lifecycle, RegisteredDefaultsComeFromTheBundleAndABrokenFileRegistersNothing) {
    const QString bundle = home.path("Copy.app");
    Program copy(QStringLiteral("cp"), {"-a", GLIMRA_HELPER_BUNDLE_DIR, bundle});
    ASSERT_TRUE(copy.waitForExit() && copy.exitCode() == 0);
    const QString executable = bundle + "/Contents/MacOS/GlimraHelper";
    const QString plist = bundle + "/Contents/Resources/HelperUserDefaults.plist";
    const QByteArray atLogin =
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>StartHelperAtLogin</key>"
        "<true/>";
    for (const QByteArray& content : {atLogin + "</dict></plist>", atLogin}) {
        QFile file(plist);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        auto helper = startHelper(executable);
        if (content.endsWith("</plist>")) { // registered: it starts at login
            EXPECT_TRUE(waitUntil([] { return nameHasOwner(kHelperName); }));
            helper->terminate();
        }
        ASSERT_TRUE(helper->waitForExit()) << content.constData();
        EXPECT_EQ(helper->exitCode(), 0);
    }
}

// The main application starts a helper that died (killed, crashed) again, and not one that said
// goodbye as it quit.
TEST_F(Lifecycle, TheMainApplicationStartsAKilledHelperAgainButNotOneThatQuit) {
    const auto helperPid = [] {
        const QDBusReply<uint> pid = QDBusConnection::sessionBus().interface()->servicePid(kHelperName);
        return pid.isValid() ? pid.value() : 0u;
    };
    Program main(kMainAppExecutable, {"--output", home.path("shots")}, home.environment());
    ASSERT_TRUE(waitUntil([&] { return helperPid() != 0; }, 10000));
    const uint killed = helperPid();
    ::kill(pid_t(killed), SIGKILL);
    EXPECT_TRUE(waitUntil(
        [&] {
            const uint now = helperPid(); // once: the name may go between two asks
            return now != 0 && now != killed;
        },
        5000));

    HelperConnection client;
    client.send({{"id", 10}});
    EXPECT_TRUE(waitUntil([] { return !nameHasOwner(kHelperName); }));
    QThread::msleep(2000);
    EXPECT_FALSE(nameHasOwner(kHelperName));
}
