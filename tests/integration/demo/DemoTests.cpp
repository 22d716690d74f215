// scripts/demo on the programs of this build. On a display (the test session's) it runs them in the
// session with the build's main application handling glimra:/// for them alone, and leaves nothing
// behind; without one it shows a capture end to end in a session of its own, in lines a user can read
// without alarm.

#include "TestSupport.h"

#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace glimra::test;

namespace {

class Demo : public ::testing::Test {
protected:
    std::unique_ptr<Program> startDemo() {
        return std::make_unique<Program>(
            "bash",
            QStringList{QStringLiteral(GLIMRA_SOURCE_DIR "/scripts/demo"), "--built", GLIMRA_BUILD_DIR},
            home.environment());
    }
    // What the demo left where the user's own desktop looks for URL handlers.
    QStringList handlerFiles() const {
        QStringList found;
        for (const QString& path : {home.dataHome() + "/applications/app.glimra.Glimra.desktop",
                                    home.configHome() + "/mimeapps.list"})
            if (QFile::exists(path))
                found << path;
        return found;
    }

    IsolatedHome home;
};

// The environment a running program was started with.
QProcessEnvironment environmentOf(uint pid) {
    QProcessEnvironment env;
    for (const QString& v : QString::fromLocal8Bit(fileContents(QStringLiteral("/proc/%1/environ").arg(pid)))
                                .split(u'\0', Qt::SkipEmptyParts))
        env.insert(v.section(u'=', 0, 0), v.section(u'=', 1));
    return env;
}

} // namespace

TEST_F(Demo, OnADisplayTheBuildHandlesGlimraUrlsForItsProgramsAloneAndNothingStays) {
    ASSERT_FALSE(nameHasOwner(kHelperName)) << "a helper from elsewhere is running";
    ASSERT_TRUE(QDir().mkpath(home.path("tmp")));
    home.setVariable("TMPDIR", home.path("tmp"));
    auto demo = startDemo();
    ASSERT_TRUE(waitUntil([] { return nameHasOwner(kHelperName); }, 20000)) << demo->output().toStdString();
    // In a Wayland session the helper talks to the compositor itself, not to XWayland.
    const QString server = qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ? "X11" : "Wayland";
    EXPECT_TRUE(demo->waitForLogLine("Glimra Helper runs: " + kHelperExecutable + " (on " + server + ")"))
        << demo->output().toStdString();

    // glimra:/// opened as the demo's programs open it starts the build's main application, which
    // finds itself running; the user's own desktop files know nothing of it.
    const uint mainApp = QDBusConnection::sessionBus().interface()->servicePid(kMainAppName).value();
    Program opened(QStringLiteral("gio"), {"open", "glimra:///"}, environmentOf(mainApp));
    EXPECT_TRUE(opened.waitForLogLine("Glimra already runs in this session."))
        << opened.output().toStdString();
    EXPECT_TRUE(handlerFiles().isEmpty()) << handlerFiles().join(u' ').toStdString();

    demo->terminate();
    ASSERT_TRUE(demo->waitForExit()) << demo->output().toStdString();
    EXPECT_TRUE(waitUntil([] { return !nameHasOwner(kHelperName); }));
    EXPECT_TRUE(handlerFiles().isEmpty()) << handlerFiles().join(u' ').toStdString();
    const QStringList left = QDir(home.path("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    EXPECT_TRUE(left.isEmpty()) << left.join(u' ').toStdString();
}

TEST_F(Demo, WithoutADisplayItShowsACaptureEndToEndInASessionOfItsOwn) {
    home.setVariable("DISPLAY", "");
    home.setVariable("WAYLAND_DISPLAY", "");
    auto demo = startDemo();
    ASSERT_TRUE(demo->waitForExit(90000)) << demo->output().toStdString();
    const QString said = demo->output();
    EXPECT_EQ(demo->exitCode(), 0) << said.toStdString();
    // The permission request the demo announces, the screenshot's arrival, each step's outcome.
    for (const QString& line : {QStringLiteral("Finished launching Glimra Helper"),
                                QStringLiteral("Started the helper of this bundle"),
                                QStringLiteral("Capture requested"), QStringLiteral("Saved screenshot"),
                                "The screenshot landed in: " + home.path("Pictures/Glimra/Fullscreen "),
                                QStringLiteral("(the helper has quit)")})
        EXPECT_TRUE(said.contains(line)) << line.toStdString() << " in:\n" << said.toStdString();
    for (const char* alarming : {"did not start", "XPC_ERROR", "ALSA", "rror", "arning"})
        EXPECT_FALSE(said.contains(alarming)) << alarming << " in:\n" << said.toStdString();
}
