// The helper's side of the XPC link, driven from this process exactly as the main application would.

#include "HelperLink.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QThread>

#include <csignal>
#include <optional>
#include <sys/stat.h>

using namespace xpc;
using namespace glimra::test;

using Link = HelperTest;

TEST_F(Link, VersionReplyNamesTheBundleAlsoAfterItWasRenamed) {
    const QString app = home.path("Apps/Glimra.app");
    ASSERT_TRUE(QDir().mkpath(home.path("Apps")));
    Program copy(QStringLiteral("cp"), {"-a", GLIMRA_BUNDLE_DIR, app});
    ASSERT_TRUE(copy.waitForExit() && copy.exitCode() == 0);
    const QString helperBundle = app + "/Contents/Library/LoginItems/GlimraHelper.app";
    ASSERT_TRUE(mainApp.ownName(kMainAppName));
    ASSERT_TRUE(startHelper(helperBundle + "/Contents/MacOS/GlimraHelper"));

    HelperConnection client;
    xpc_object_t reply = client.sendWithReply(12);
    ASSERT_TRUE(reply);
    EXPECT_EQ(xpc_dictionary_get_string(reply, "bundleVersion"), "100");
    EXPECT_EQ(xpc_dictionary_get_string(reply, "bundleShortVersion"), "1.0.0");
    EXPECT_EQ(xpc_dictionary_get_string(reply, "bundlePath"), helperBundle.toStdString());

    ASSERT_TRUE(QDir().rename(home.path("Apps"), home.path("Moved Apps")));
    reply = client.sendWithReply(12);
    ASSERT_TRUE(reply);
    EXPECT_EQ(
        xpc_dictionary_get_string(reply, "bundlePath"),
        (home.path("Moved Apps/Glimra.app") + "/Contents/Library/LoginItems/GlimraHelper.app").toStdString());

    // A helper that quits interrupts the connection and fails what waits for an answer, which is not
    // the connection's end: the next message reaches the next helper.
    auto unanswered = std::make_shared<EventLog>();
    xpc_connection_send_message_with_reply(client.connection, message(106), nullptr, unanswered->handler());
    stopHelper();
    ASSERT_TRUE(unanswered->waitFor(1));
    EXPECT_EQ(unanswered->last(), XPC_ERROR_CONNECTION_INTERRUPTED);
    ASSERT_TRUE(startHelper());
    EXPECT_EQ(xpc_get_type(client.sendWithReply(12)), xpc_type_t::Dictionary);
}

TEST_F(Link, SettingsMessagesAreStoredForTheUserAloneAndOutliveTheProcess) {
    home.writeHelperSetting("StartHelperAtLogin", "false");
    const mode_t umaskBefore = umask(0); // the helper inherits it
    ASSERT_NO_FATAL_FAILURE(startAsMainApp());
    umask(umaskBefore);
    xpc_object_t reply = main->sendWithReply(15);
    ASSERT_TRUE(reply);
    EXPECT_FALSE(xpc_dictionary_get_bool(reply, "bool"));

    // The delay: "int64" unless it is 0, else "double" rounded half away from zero and clamped.
    const struct {
        std::optional<int64_t> int64;
        std::optional<double> seconds;
        qint64 stored;
    } delays[] = {{0, 2.5, 3},
                  {0, 2.4, 2},
                  {7, 2.0, 7},
                  {std::nullopt, -2.5, -3},
                  {std::nullopt, 1e300, INT64_MAX},
                  {std::nullopt, std::nullopt, 0}};
    const QString file = home.configHome() + "/glimra/app.glimra.GlimraHelper.conf";
    for (const auto& delay : delays) {
        xpc_object_t m = message(14);
        if (delay.int64)
            xpc_dictionary_set_int64(m, "int64", *delay.int64);
        if (delay.seconds)
            xpc_dictionary_set_double(m, "double", *delay.seconds);
        main->send(m);
        // Messages of one connection are carried out in order: the answer to 12 comes after.
        ASSERT_TRUE(main->sendWithReply(12));
        EXPECT_EQ(QSettings(file, QSettings::IniFormat).value("TimedScreenSnapDelaySeconds").toLongLong(),
                  delay.stored)
            << delay.seconds.value_or(0);
    }
    EXPECT_EQ(QFile::permissions(home.configHome() + "/glimra"), QFile::ReadOwner | QFile::WriteOwner |
                                                                     QFile::ExeOwner | QFile::ReadUser |
                                                                     QFile::WriteUser | QFile::ExeUser);
    EXPECT_EQ(QFile::permissions(file),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
}

TEST_F(Link, MeaninglessAndHostileMessagesChangeNothing) {
    ASSERT_NO_FATAL_FAILURE(startAsMainApp());
    HelperConnection& client = *main;

    for (uint64_t kind : std::initializer_list<uint64_t>{0, 1, 3, 8, 9, 11, 16, 17, 1000, UINT64_MAX})
        client.send({{"id", kind}});
    client.send(xpc_dictionary_create());
    xpc_object_t noId = xpc_dictionary_create();
    xpc_dictionary_set_bool(noId, "bool", true);
    client.send(noId);
    // The right names with the wrong types read as absent: "id" 6 as a string is kind 0.
    xpc_object_t wrongTypes = xpc_dictionary_create();
    xpc_dictionary_set_string(wrongTypes, "id", "6");
    xpc_dictionary_set_string(wrongTypes, "bool", "true");
    client.send(wrongTypes);
    xpc_object_t signedId = xpc_dictionary_create();
    xpc_dictionary_set_int64(signedId, "id", 10);
    client.send(signedId);
    xpc_object_t huge = message(13);
    xpc_dictionary_set_string(huge, "bool", std::string(10 * 1024 * 1024, 'x'));
    xpc_dictionary_set_string(huge, "title", std::string(10 * 1024 * 1024, 'y'));
    client.send(huge);
    // Replies asked of kinds that have none are never answered, and block nothing.
    xpc_connection_send_message_with_reply(client.connection, message(6 + 100), nullptr, [](xpc_object_t) {});

    xpc_object_t reply = client.sendWithReply(12, 20000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(xpc_dictionary_get_string(reply, "bundleVersion"), "100");
    EXPECT_TRUE(helper->isRunning());
    EXPECT_TRUE(client.log.messages(3).empty()) << "no capture may have been asked for";
}

TEST_F(Link, TheNewestConnectionIsThePeer) {
    ASSERT_TRUE(mainApp.ownName(kMainAppName));
    ASSERT_TRUE(startHelper());
    HelperConnection first(HelperConnection::Answer::Allow);
    ASSERT_TRUE(first.sendWithReply(12));
    HelperConnection second(HelperConnection::Answer::Allow);
    ASSERT_TRUE(second.sendWithReply(12));

    // The permission request and the screenshot go to the newer connection, whoever asked.
    first.send({{"id", 6}});
    ASSERT_TRUE(second.log.waitForMessages(8, 1));
    EXPECT_EQ(second.log.messages(3).size(), 1u);
    EXPECT_TRUE(first.log.messages(3).empty());

    // An error on the replaced connection leaves the newer one in place.
    first.cancel();
    QThread::msleep(200);
    second.send({{"id", 7}});
    ASSERT_TRUE(second.log.waitForMessages(8, 2));
    EXPECT_EQ(second.log.messages(3).size(), 2u);

    // An error on the peer clears it: captures go unasked until someone connects again.
    second.cancel();
    QThread::msleep(200);
    HelperConnection third(HelperConnection::Answer::Allow);
    ASSERT_TRUE(third.sendWithReply(12));
    third.send({{"id", 6}});
    EXPECT_TRUE(third.log.waitForMessages(8, 1));
    EXPECT_TRUE(helperOutput().contains("XPC_ERROR_CONNECTION_INVALID"));
}

TEST_F(Link, APeerThatVanishesMidSendLeavesTheHelperServing) {
    ASSERT_TRUE(mainApp.ownName(kMainAppName));
    ASSERT_TRUE(startHelper());
    const QString big = home.path("big.bin");
    {
        QFile file(big);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(40 * 1024 * 1024, 'z'));
    }
    for (int delayMs : {5, 40, 150}) {
        Program sender(GLIMRA_XPC_SEND, {"id=u:14", "int64=i:4", "PNGData=f:" + big}, home.environment());
        QThread::msleep(delayMs);
        ::kill(pid_t(sender.pid()), SIGKILL);
        sender.waitForExit(5000);
    }
    // A main application killed while a screenshot is on its way to it. The helper is told to stay
    // when that main application goes.
    {
        HelperConnection keeper;
        xpc_object_t keep = message(2);
        xpc_dictionary_set_bool(keep, "bool", true);
        keeper.send(keep);
        ASSERT_TRUE(keeper.sendWithReply(12));
    }
    mainApp.releaseName(kMainAppName);
    {
        Program mainAppProcess(kMainAppExecutable, {"--output", home.path("shots"), "--send", "6"},
                               home.environment());
        ASSERT_TRUE(mainAppProcess.waitForLogLine("Capture requested", 10000));
        ::kill(pid_t(mainAppProcess.pid()), SIGKILL);
        mainAppProcess.waitForExit(5000);
    }
    HelperConnection client;
    xpc_object_t reply = client.sendWithReply(12, 20000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(xpc_dictionary_get_string(reply, "bundleShortVersion"), "1.0.0");
    EXPECT_TRUE(helper->isRunning());
}
