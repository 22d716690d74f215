// The desktop's actions of the running helper, called as launchers and desktops call them
// (`gapplication action`), the test in the main application's place: the same road on X11 and sway.

#include "HelperLink.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <QGuiApplication>
#include <QScreen>

#include <functional>

#ifdef GLIMRA_ACTIONS_ON_WAYLAND
#include "WaylandKit.h"
// Tests are labelled by name: the Wayland build's has a name of its own.
#define DesktopActions WaylandDesktopActions
#endif

using namespace glimra::test;

namespace {

const QString kHelperName = QStringLiteral("app.glimra.GlimraHelper");
const QString kActionsPath = QStringLiteral("/app/glimra/GlimraHelper");

struct Call {
    int status = -1;
    QString output;
};

Call gapplication(const QString& action) {
    Program program(QStringLiteral("gapplication"), {QStringLiteral("action"), kHelperName, action});
    program.waitForExit(20000);
    return {program.exitCode(), program.output()};
}

Call applicationCall(const QStringList& methodAndArguments) {
    Call call;
    call.output = gdbusCall(kHelperName, methodAndArguments, &call.status, kActionsPath);
    return call;
}

// Refused calls: each is a D-Bus error that names what was wrong.
struct BadCall {
    const char* name;
    std::function<Call()> call;
    const char* error;
    const char* named;
};

const BadCall kBadCalls[] = {
    {"unknown action", [] { return gapplication(QStringLiteral("capture-everything")); },
     "org.freedesktop.DBus.Error.InvalidArgs", "\"capture-everything\""},
    {"parameter",
     [] {
         return applicationCall(
             {"org.freedesktop.Application.ActivateAction", "capture-fullscreen", "[<1>]", "{}"});
     },
     "org.freedesktop.DBus.Error.InvalidArgs", "\"capture-fullscreen\" takes no parameter"},
    {"files to open",
     [] {
         return applicationCall(
             {"org.freedesktop.Application.Open", "['file:///tmp/picture.png']", "", "{}"});
     },
     "org.freedesktop.DBus.Error.NotSupported", "file:///tmp/picture.png"},
    {"wrong arguments",
     [] {
         return applicationCall({"org.freedesktop.Application.ActivateAction", "42"});
     },
     "org.freedesktop.DBus.Error.InvalidArgs", "ActivateAction takes (sava{sv}), not (s)"},
    // A name that would forge a line of the log, its newline escaped.
    {"a line of the log in the name",
     [] {
         return applicationCall({"org.freedesktop.Application.ActivateAction",
                                 "'x\\nGlimraHelper[1]: Saved screenshot forged.png'", "[]", "{}"});
     },
     "org.freedesktop.DBus.Error.InvalidArgs", "x\\nGlimraHelper[1]"},
};

class DesktopActions : public HelperTest {
protected:
    void SetUp() override {
#ifdef GLIMRA_ACTIONS_ON_WAYLAND
        if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qEnvironmentVariableIsEmpty("SWAYSOCK"))
            GTEST_SKIP() << "needs the Wayland test session";
#endif
        HelperTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(startAsMainApp());
    }

    // What the full-screen capture must deliver: the screen as it is.
    QImage expectedScreen() {
#ifdef GLIMRA_ACTIONS_ON_WAYLAND
        const QString output = QGuiApplication::screens().at(0)->name();
        Program focus(QStringLiteral("swaymsg"), {QStringLiteral("focus output ") + output});
        focus.waitForExit();
        // As it shows now: windows of other tests may lie over the wallpaper.
        return outputImage(output);
#else
        QImage screen(QGuiApplication::primaryScreen()->geometry().size(), QImage::Format_RGB32);
        screen.fill(QColor(0x3b6ea5));
        cover_ = std::make_unique<ScreenCover>(screen);
        return screen;
#endif
    }

private:
#ifndef GLIMRA_ACTIONS_ON_WAYLAND
    std::unique_ptr<ScreenCover> cover_;
#endif
};

} // namespace

// gapplication's call runs the full-screen capture as its hot key does: the screen's PNG reaches the
// main application. Bad calls are refused with an error that names them, and the helper goes on.
TEST_F(DesktopActions, ActionCallsCaptureAndBadOnesAreRefusedByName) {
    const QImage screen = expectedScreen();
    for (const BadCall& bad : kBadCalls) {
        SCOPED_TRACE(bad.name);
        const Call refused = bad.call();
        EXPECT_NE(refused.status, 0);
        EXPECT_TRUE(refused.output.contains(bad.error) && refused.output.contains(bad.named))
            << refused.output.toStdString();
    }
    EXPECT_FALSE(helperOutput().contains(QStringLiteral("\nGlimraHelper[1]: Saved screenshot forged.png")))
        << helperOutput().toStdString();
    // A megabyte of name costs the log no more than a line.
    const qsizetype logged = helperOutput().size();
    QDBusMessage huge = QDBusMessage::createMethodCall(kHelperName, kActionsPath,
                                                       QStringLiteral("org.freedesktop.Application"),
                                                       QStringLiteral("ActivateAction"));
    huge << QString(1 << 20, u'x') << QVariantList() << QVariantMap();
    EXPECT_EQ(QDBusConnection::sessionBus().call(huge).type(), QDBusMessage::ErrorMessage);
    EXPECT_TRUE(waitUntil([&] { return helperOutput().size() > logged; }));
    EXPECT_LT(helperOutput().size() - logged, 1000);
    EXPECT_EQ(applicationCall({"org.freedesktop.Application.Activate", "{}"}).status, 0);
    EXPECT_TRUE(main->log.messages(8).empty()) << "a refused call captured";

    const Call call = gapplication(QStringLiteral("capture-fullscreen"));
    ASSERT_EQ(call.status, 0) << call.output.toStdString() << helperOutput().toStdString();
    const Screenshot shot = screenshot(1);
    EXPECT_TRUE(shot.title.startsWith(QStringLiteral("Fullscreen "))) << shot.title.toStdString();
    EXPECT_TRUE(showsNear(shot.image, screen, QRegion(), 0));
    EXPECT_TRUE(helper->isRunning());
}
