// The helper's side of the XPC link, driven from this process (and from stock D-Bus tools) exactly
// as the main application would.

#include "HelperLink.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QThread>

#include <csignal>
#include <sys/stat.h>

using namespace xpc;
using namespace glimra::test;

namespace {

const QString kMainName = QStringLiteral("app.glimra.Glimra");

QString runGdbus(const QStringList& methodAndArgs) {
    Program program("gdbus",
                    QStringList{"call", "--session", "--dest", "app.glimra.GlimraHelper", "--object-path",
                                "/xpc", "--method"} +
                        methodAndArgs,
                    QProcessEnvironment::systemEnvironment());
    program.waitForExit(10000);
    return program.output().trimmed();
}

bool copyTree(const QString& from, const QString& to) {
    QDir source(from);
    if (!QDir().mkpath(to))
        return false;
    for (const QFileInfo& entry : source.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        const QString target = to + u'/' + entry.fileName();
        if (entry.isDir() ? !copyTree(entry.filePath(), target) : !QFile::copy(entry.filePath(), target))
            return false;
    }
    return true;
}

class Link : public HelperTest {
protected:
    QVariant storedSetting(const QString& key) {
        QSettings settings(home.configHome() + "/glimra/app.glimra.GlimraHelper.conf", QSettings::IniFormat);
        return settings.value(key);
    }
    // Kind 14 round trip: the stored delay once the helper has carried the message out.
    qint64 storeDelay(HelperConnection& c, std::optional<int64_t> int64Value,
                      std::optional<double> doubleValue) {
        xpc_object_t m = message(14);
        if (int64Value)
            xpc_dictionary_set_int64(m, "int64", *int64Value);
        if (doubleValue)
            xpc_dictionary_set_double(m, "double", *doubleValue);
        c.send(m);
        // Messages of one connection are carried out in order: the answer to 12 comes after.
        EXPECT_TRUE(c.sendWithReply(12));
        return storedSetting("TimedScreenSnapDelaySeconds").toLongLong();
    }
};

} // namespace

TEST_F(Link, VersionReplyNamesTheBundleAlsoAfterItWasRenamed) {
    ASSERT_TRUE(mainApp.ownName(kMainName));
    const QString app = home.path("Apps/Glimra.app");
    ASSERT_TRUE(copyTree(GLIMRA_BUNDLE_DIR, app));
    const QString helperBundle = app + "/Contents/Library/LoginItems/GlimraHelper.app";
    ASSERT_TRUE(startHelper(helperBundle + "/Contents/MacOS/GlimraHelper")) << helperOutput().toStdString();

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

    // Stock tools speak the same binding, in one-shot calls.
    const QString version = runGdbus({"app.glimra.xpc.Listener.SendWithReply", "0", "{'id': <uint64 12>}"});
    EXPECT_TRUE(version.contains("'bundleVersion': <'100'>")) << version.toStdString();
    EXPECT_TRUE(version.contains("Moved Apps/Glimra.app")) << version.toStdString();
}

TEST_F(Link, SettingsMessagesAreStoredAndTheDelayIsRounded) {
    home.writeHelperSetting("StartHelperAtLogin", "false");
    ASSERT_TRUE(mainApp.ownName(kMainName));
    const mode_t umaskBefore = umask(0); // the helper inherits it
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();
    umask(umaskBefore);
    HelperConnection client;

    xpc_object_t reply = client.sendWithReply(15);
    ASSERT_TRUE(reply);
    EXPECT_EQ(xpc_get_type(reply), xpc_type_t::Dictionary);
    EXPECT_FALSE(xpc_dictionary_get_bool(reply, "bool"));

    EXPECT_EQ(storeDelay(client, 0, 2.5), 3);
    EXPECT_EQ(storeDelay(client, 0, 2.4), 2);
    EXPECT_EQ(storeDelay(client, 7, 2.0), 7);
    EXPECT_EQ(storeDelay(client, std::nullopt, -2.5), -3);
    EXPECT_EQ(storeDelay(client, std::nullopt, 1e300), INT64_MAX);
    EXPECT_EQ(storeDelay(client, std::nullopt, std::nullopt), 0);

    // The user's alone whatever the umask.
    EXPECT_EQ(QFile::permissions(home.configHome() + "/glimra"), QFile::ReadOwner | QFile::WriteOwner |
                                                                     QFile::ExeOwner | QFile::ReadUser |
                                                                     QFile::WriteUser | QFile::ExeUser);
    EXPECT_EQ(QFile::permissions(home.configHome() + "/glimra/app.glimra.GlimraHelper.conf"),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

    xpc_object_t startAtLogin = message(13);
    xpc_dictionary_set_bool(startAtLogin, "bool", true);
    client.send(startAtLogin);
    ASSERT_TRUE(client.sendWithReply(12));

    // Keep running: the main application's end no longer ends the helper.
    xpc_object_t keep = message(2);
    xpc_dictionary_set_bool(keep, "bool", true);
    client.send(keep);
    ASSERT_TRUE(client.sendWithReply(12));
    mainApp.releaseName(kMainName);
    QThread::msleep(500);
    EXPECT_TRUE(helper->isRunning());
    client.cancel();

    // The start-at-login setting outlives the process: alone, the next helper stays.
    stopHelper();
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();
    QThread::msleep(300);
    EXPECT_TRUE(helper->isRunning());
}

TEST_F(Link, MeaninglessAndHostileMessagesChangeNothing) {
    ASSERT_TRUE(mainApp.ownName(kMainName));
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();
    HelperConnection client(HelperConnection::Answer::Allow);

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
    ASSERT_TRUE(mainApp.ownName(kMainName));
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();
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
    EXPECT_TRUE(helperOutput().contains("XPC_ERROR_CONNECTION_INVALID")) << helperOutput().toStdString();
}

TEST_F(Link, APeerThatVanishesMidSendLeavesTheHelperServing) {
    ASSERT_TRUE(mainApp.ownName(kMainName));
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();
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
    mainApp.releaseName(kMainName);
    {
        Program mainAppProcess(mainAppExecutable(), {"--output", home.path("shots"), "--send", "6"},
                               home.environment());
        ASSERT_TRUE(mainAppProcess.waitForLogLine("Capture requested", 10000))
            << mainAppProcess.output().toStdString();
        ::kill(pid_t(mainAppProcess.pid()), SIGKILL);
        mainAppProcess.waitForExit(5000);
    }
    HelperConnection client;
    xpc_object_t reply = client.sendWithReply(12, 20000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(xpc_dictionary_get_string(reply, "bundleShortVersion"), "1.0.0");
    EXPECT_TRUE(helper->isRunning());
}
