// The link against other clients of the session bus, each a process of its own: requests nobody
// answers, clients that would take the main application's place, and connections left behind. After each, the
// main application's hot-key screenshot still arrives.

#include "HelperLink.h"
#include "ProcessMemory.h"

#include <X11/keysym.h>

using namespace xpc;
using namespace glimra::test;

namespace {

class Hostile : public HelperTest {
protected:
    void SetUp() override {
        HelperTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(startAsMainApp());
    }
    std::unique_ptr<Program> client(const QStringList& arguments) {
        return std::make_unique<Program>(HOSTILE_CLIENT, arguments, home.environment());
    }
    // Ctrl+Shift+6 typed on the display: the screenshot reaches the main application.
    void expectHotKeyScreenshot() {
        const size_t before = main->log.messages(8).size();
        XClient().type({XK_Control_L, XK_Shift_L}, XK_6);
        EXPECT_TRUE(main->log.waitForMessages(8, before + 1, 20000));
    }
};

} // namespace

TEST_F(Hostile, RequestsNobodyAnswersHoldNothingAndFailInTurn) {
    // 300 requests of 256 KiB and 16 descriptors each: far more than libdbus lets a process hold.
    auto flood = client({"unanswered", "300"});
    ASSERT_TRUE(flood->waitForLogLine("sent", 20000));
    ASSERT_TRUE(
        waitUntil([&] { return flood->output().count("app.glimra.xpc.Error.NoReply") == 300 - 64; }, 60000));
    EXPECT_TRUE(main->sendWithReply(12));
    expectHotKeyScreenshot();

    // The 64 still open fail as interrupted when the helper quits.
    stopHelper();
    EXPECT_TRUE(waitUntil(
        [&] { return flood->output().count("app.glimra.xpc.Error.ConnectionInterrupted") == 64; }, 10000));
}

TEST_F(Hostile, OtherClientsAreServedButNeverTakeOrEndTheMainApplicationsPlace) {
    // The documented one-shot forms are answered and change nothing for the peer.
    Program send(GLIMRA_XPC_SEND, {"--reply", "id=u:12"}, home.environment());
    ASSERT_TRUE(send.waitForExit(10000));
    EXPECT_TRUE(send.output().contains("bundleVersion"));
    const QString gdbus = gdbusCall("app.glimra.GlimraHelper",
                                    {"app.glimra.xpc.Listener.SendWithReply", "0", "{'id': <uint64 12>}"});
    EXPECT_TRUE(gdbus.contains("'bundleVersion': <'100'>")) << gdbus.toStdString();

    // A client that exports its peer object connects, and cannot cancel anybody's connection.
    auto rogue = client({"rogue"});
    ASSERT_TRUE(rogue->waitForLogLine("done", 20000));
    EXPECT_EQ(rogue->output().count("cancel refused"), 20);
    EXPECT_TRUE(main->sendWithReply(12));
    expectHotKeyScreenshot();
    EXPECT_EQ(main->log.messages(3).size(), 1u);
    EXPECT_FALSE(rogue->output().contains("message")) << "nothing is sent to it unasked";
}

TEST_F(Hostile, ConnectionsEndWhenTheirClientLeaves) {
    // The helper stays when the main application's name goes.
    xpc_object_t keep = message(2);
    xpc_dictionary_set_bool(keep, "bool", true);
    main->send(keep);
    ASSERT_TRUE(main->sendWithReply(12));
    mainApp.releaseName(kMainAppName);

    // Neither client exports a peer object; each leaves with its connections open. What the
    // thousands of them cost goes back to the system once they have ended.
    const ProcessMemory before = processMemory(helper->pid());
    auto anyone = client({"pile", "20000"});
    ASSERT_TRUE(anyone->waitForExit(60000));
    EXPECT_TRUE(anyone->output().contains("connected"));
    if (!kSanitizerHeap) {
        EXPECT_TRUE(waitUntil(
            [&] { return processMemory(helper->pid()).anonymousMiB < before.anonymousMiB + 8; }, 20000))
            << processMemory(helper->pid()).anonymousMiB << " MiB, " << before.anonymousMiB << " before";
    }
    auto careless = client({"pile", "100", kMainAppName});
    ASSERT_TRUE(careless->waitForExit(20000));
    EXPECT_TRUE(careless->output().contains("connected"));
    // Each of the careless main application's connections was the peer in turn, and each ends.
    EXPECT_TRUE(waitUntil([&] { return helperOutput().count("XPC_ERROR_CONNECTION_INVALID") == 100; }, 20000))
        << helperOutput().count("XPC_ERROR_CONNECTION_INVALID");

    ASSERT_TRUE(mainApp.ownName(kMainAppName));
    main = std::make_unique<HelperConnection>();
    ASSERT_TRUE(main->sendWithReply(12));
    expectHotKeyScreenshot();
}
