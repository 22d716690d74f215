// The capture commands of the real helper: what a refusal and a full-screen title look like from the
// main application's side and on the X server.

#include "HelperLink.h"

#include <QDateTime>
#include <QLocale>

using namespace xpc;
using namespace glimra::test;
using namespace std::chrono_literals;

namespace {

// How the main application says no: "bool" false, no "bool", or no reply at all but an error, the
// connection ending while the request waits for its answer; or it runs without having connected, so
// nobody can be asked and the shortcut does nothing at all.
struct Refusal {
    const char* name;
    HelperConnection::Answer answer;
    bool connected = true;
};

class Refusals : public HelperTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refusals, DeliverNothingRingOnceAtMostAndLeaveTheHelperReady) {
    XClient x;
    ASSERT_TRUE(x.watchBells()) << "no X display with XKB";
    ScreenCover cover(QColor(30, 90, 160));
    ASSERT_TRUE(mainApp.ownName(kMainAppName));
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();

    const bool connected = GetParam().connected;
    const bool error = GetParam().answer == HelperConnection::Answer::Ignore;
    if (connected) {
        main = std::make_unique<HelperConnection>(GetParam().answer);
        ASSERT_TRUE(main->sendWithReply(12));
        main->send({{"id", 6}});
        ASSERT_TRUE(main->log.waitForMessages(3, 1)) << helperOutput().toStdString();
        if (error)
            main->cancel();
        EXPECT_TRUE(main->log.messages(8).empty()) << "a refused capture delivered a screenshot";
        EXPECT_TRUE(main->log.messages(11).empty()) << "a refusal is not a failed capture";
    } else {
        // Any client's message is carried out; only the main application is asked.
        gdbusCall("app.glimra.GlimraHelper", {"app.glimra.xpc.Listener.Send", "0", "{'id': <uint64 6>}"});
    }
    const int bells = connected ? 1 : 0;
    EXPECT_EQ(x.bells(bells, 10s, 800ms), bells) << helperOutput().toStdString();

    if (error || !connected) {
        main = std::make_unique<HelperConnection>(HelperConnection::Answer::Allow);
        ASSERT_TRUE(main->sendWithReply(12));
    } else {
        main->answer->store(HelperConnection::Answer::Allow);
    }
    main->send({{"id", 6}});
    EXPECT_EQ(screenshot(1).points, QSize(1920, 1080)) << "stuck after a refusal";
    EXPECT_EQ(x.bells(0, 0ms, 300ms), bells) << "the allowed capture rang the bell";
}

INSTANTIATE_TEST_SUITE_P(Capture, Refusals,
                         ::testing::Values(Refusal{"BoolFalse", HelperConnection::Answer::Refuse},
                                           Refusal{"NoBoolKey", HelperConnection::Answer::NoKey},
                                           Refusal{"ErrorInsteadOfReply", HelperConnection::Answer::Ignore},
                                           Refusal{"NotConnected", HelperConnection::Answer::Allow, false}),
                         caseName);

class FullScreenTitle : public HelperTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FullScreenTitle, IsFullscreenWithTheShortDateAndTimeOfTheLocale) {
    const QString localeName = QString::fromLatin1(GetParam());
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"})
        home.setVariable(variable, localeName);
    ScreenCover cover(QColor(0, 0, 0));
    ASSERT_NO_FATAL_FAILURE(startAsMainApp());
    const QDateTime before = QDateTime::currentDateTime();
    main->send({{"id", 6}});
    const QString title = screenshot(1).title;
    const QDateTime after = QDateTime::currentDateTime();

    // The word comes from the helper's catalogue for the locale's language; the date and time are
    // the locale's short ones, of a moment while the capture ran.
    const QString word = localeName.startsWith("de") ? "Vollbild" : "Fullscreen";
    const QLocale locale(localeName);
    QStringList expected;
    for (const QDateTime& t : {before, after})
        expected << word + u' ' + locale.toString(t.date(), QLocale::ShortFormat) + u' ' +
                        locale.toString(t.time(), QLocale::ShortFormat);
    EXPECT_TRUE(expected.contains(title))
        << title.toStdString() << " is none of " << expected.join(" / ").toStdString();
}

INSTANTIATE_TEST_SUITE_P(Capture, FullScreenTitle, ::testing::Values("en_US.UTF-8", "C", "de_DE.UTF-8"),
                         [](const auto& info) {
                             std::string name = info.param;
                             return name.substr(0, name.find('.'));
                         });

} // namespace
