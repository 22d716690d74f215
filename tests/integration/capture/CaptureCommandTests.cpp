// The capture commands of the real helper: what a refusal, a busy helper and a full-screen title
// look like from the main application's side and on the X server.

#include "HelperLink.h"
#include "XTestKit.h"

#include <QDateTime>
#include <QLocale>
#include <QThread>

#include <X11/keysym.h>

#include <csignal>

using namespace xpc;
using namespace glimra::test;
using namespace std::chrono_literals;
using capturetest::XClient;

namespace {

const QString kMainName = QStringLiteral("app.glimra.Glimra");

enum class Refusal { False, WithoutKey, Error };

void PrintTo(Refusal refusal, std::ostream* os) {
    *os << (refusal == Refusal::False        ? "\"bool\" false"
            : refusal == Refusal::WithoutKey ? "no \"bool\""
                                             : "an error");
}

// The main application's name is given up first: the helper then has no reason to stay.
class CaptureTest : public HelperTest {
protected:
    void TearDown() override {
        mainApp.releaseName(kMainName);
        HelperTest::TearDown();
    }
};

class Refusals : public CaptureTest, public ::testing::WithParamInterface<Refusal> {};

class BusyHelper : public CaptureTest {};

} // namespace

TEST_P(Refusals, RingOneBellDeliverNothingAndLeaveTheHelperReady) {
    XClient x;
    ASSERT_TRUE(x.watchBells()) << "no X display with XKB";
    ScreenCover cover(QColor(30, 90, 160));
    ASSERT_TRUE(mainApp.ownName(kMainName));
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();

    const Refusal refusal = GetParam();
    auto main = std::make_unique<HelperConnection>(
        refusal == Refusal::False        ? HelperConnection::Answer::Refuse
        : refusal == Refusal::WithoutKey ? HelperConnection::Answer::NoKey
                                         : HelperConnection::Answer::Ignore);
    ASSERT_TRUE(main->sendWithReply(12));
    main->send({{"id", 6}});
    ASSERT_TRUE(main->log.waitForMessages(3, 1)) << helperOutput().toStdString();
    // An error in place of a reply: the connection ends while the request waits for its answer.
    if (refusal == Refusal::Error)
        main->cancel();

    EXPECT_EQ(x.bells(1, 10s, 800ms), 1) << helperOutput().toStdString();
    EXPECT_TRUE(main->log.messages(8).empty()) << "a refused capture delivered a screenshot";
    EXPECT_TRUE(main->log.messages(11).empty()) << "a refusal is not a failed capture";

    if (refusal == Refusal::Error) {
        main = std::make_unique<HelperConnection>(HelperConnection::Answer::Allow);
        ASSERT_TRUE(main->sendWithReply(12));
    } else {
        main->answer->store(HelperConnection::Answer::Allow);
    }
    main->send({{"id", 6}});
    ASSERT_TRUE(main->log.waitForMessages(8, 1)) << "stuck after a refusal\n" << helperOutput().toStdString();
    EXPECT_EQ(xpc_dictionary_get_uint64(main->log.messages(8).front(), "width"), 1920u);
    EXPECT_EQ(x.bells(0, 0ms, 300ms), 1) << "the allowed capture rang the bell";
}

INSTANTIATE_TEST_SUITE_P(Capture, Refusals,
                         ::testing::Values(Refusal::False, Refusal::WithoutKey, Refusal::Error),
                         [](const auto& info) {
                             return std::string(info.param == Refusal::False        ? "BoolFalse"
                                                : info.param == Refusal::WithoutKey ? "NoBoolKey"
                                                                                    : "ErrorInsteadOfReply");
                         });

// Two hot keys read in one batch: the region capture has begun, its overlay waiting for the mouse,
// when the full-screen key is handled. The helper is stopped while the keys are typed, so that it
// finds both in its queue at once.
TEST_F(BusyHelper, ACaptureCommandDuringACaptureRingsTheBellAndStartsNothing) {
    home.writeHelperSetting("StartHelperAtLogin", "true");
    XClient x;
    ASSERT_TRUE(x.watchBells()) << "no X display with XKB";
    ASSERT_TRUE(startHelper()) << helperOutput().toStdString();
    constexpr uint16_t kCtrlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;
    ASSERT_TRUE(waitUntil([&] {
        return x.keyIsGrabbed(XK_5, kCtrlShift) && x.keyIsGrabbed(XK_6, kCtrlShift);
    })) << helperOutput().toStdString();

    ASSERT_EQ(::kill(pid_t(helper->pid()), SIGSTOP), 0);
    x.key(XK_Control_L, true);
    x.key(XK_Shift_L, true);
    for (const xcb_keysym_t key : {XK_5, XK_6}) {
        x.key(key, true);
        x.key(key, false);
    }
    x.key(XK_Shift_L, false);
    x.key(XK_Control_L, false);
    x.sync();
    QThread::msleep(100);
    ASSERT_EQ(::kill(pid_t(helper->pid()), SIGCONT), 0);

    EXPECT_EQ(x.bells(1, 10s, 800ms), 1) << helperOutput().toStdString();
    // A full-screen capture would have held its screenshot and started the main application.
    EXPECT_FALSE(nameHasOwner(kMainName)) << helperOutput().toStdString();
    EXPECT_FALSE(helperOutput().contains("launch main app", Qt::CaseInsensitive))
        << helperOutput().toStdString();

    // Escape ends the region capture; then the helper takes captures again.
    x.type({}, XK_Escape);
    ASSERT_TRUE(helper->waitForLogLine("Error: (null)")) << helperOutput().toStdString();
    ScreenCover cover(QColor(160, 20, 90));
    ASSERT_TRUE(mainApp.ownName(kMainName));
    HelperConnection main(HelperConnection::Answer::Allow);
    ASSERT_TRUE(main.sendWithReply(12));
    main.send({{"id", 6}});
    ASSERT_TRUE(main.log.waitForMessages(8, 1)) << "still busy\n" << helperOutput().toStdString();
}

namespace {

class FullScreenTitle : public CaptureTest, public ::testing::WithParamInterface<const char*> {};

} // namespace

TEST_P(FullScreenTitle, IsFullscreenWithTheShortDateAndTimeOfTheLocale) {
    const QString localeName = QString::fromLatin1(GetParam());
    QProcessEnvironment env = home.environment();
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"})
        env.insert(variable, localeName);
    ScreenCover cover(QColor(0, 0, 0));
    ASSERT_TRUE(mainApp.ownName(kMainName));
    helper = std::make_unique<Program>(helperExecutable(), QStringList{}, env);
    ASSERT_TRUE(waitUntil([&] { return ready->count() > 0; }, 10000)) << helperOutput().toStdString();
    HelperConnection main(HelperConnection::Answer::Allow);
    ASSERT_TRUE(main.sendWithReply(12));

    const QDateTime before = QDateTime::currentDateTime();
    main.send({{"id", 6}});
    ASSERT_TRUE(main.log.waitForMessages(8, 1)) << helperOutput().toStdString();
    const QDateTime after = QDateTime::currentDateTime();
    const QString title =
        QString::fromStdString(xpc_dictionary_get_string(main.log.messages(8).front(), "title"));

    // The word comes from the helper's catalogue for the locale's language.
    const QString word =
        localeName.startsWith("de") ? QStringLiteral("Vollbild ") : QStringLiteral("Fullscreen ");
    ASSERT_TRUE(title.startsWith(word)) << title.toStdString();
    const QString when = title.mid(word.size());
    const QLocale locale(localeName);
    QString date;
    for (const QDateTime& t : {before, after})
        if (const QString d = locale.toString(t.date(), QLocale::ShortFormat); when.startsWith(d + u' '))
            date = d;
    ASSERT_FALSE(date.isEmpty()) << "no short date of " << localeName.toStdString() << " in "
                                 << title.toStdString();
    const QTime time = locale.toTime(when.mid(date.size() + 1), QLocale::ShortFormat);
    ASSERT_TRUE(time.isValid()) << title.toStdString();
    // Short times may or may not show seconds.
    const QTime earliest(before.time().hour(), before.time().minute());
    EXPECT_TRUE(before.date() != after.date() || (earliest <= time && time <= after.time()))
        << title.toStdString();
    if (localeName.startsWith("en_US")) {
        const QDate parsed = QDate::fromString(date, QStringLiteral("M/d/yy"));
        ASSERT_TRUE(parsed.isValid()) << date.toStdString();
        EXPECT_EQ(parsed.year() % 100, after.date().year() % 100);
        EXPECT_EQ(parsed.month(), after.date().month());
    }
}

INSTANTIATE_TEST_SUITE_P(Capture, FullScreenTitle, ::testing::Values("en_US.UTF-8", "C", "de_DE.UTF-8"),
                         [](const auto& info) {
                             std::string name = info.param;
                             return name.substr(0, name.find('.'));
                         });
