// Desktops that must not disturb the shared session: several RandR monitors, scale factors, no
// window manager. Each test starts an Xvfb of its own, sets it up, and runs x11_display_checks in it,
// so that the Qt application under test sees that desktop from its start.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

class PrivateDisplay {
public:
    explicit PrivateDisplay(const QString& geometry) {
        const QString displayFile = dir_.filePath("display");
        xvfb_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        xvfb_.setStandardOutputFile(QProcess::nullDevice());
        // bash only opens descriptor 3 for -displayfd; exec leaves Xvfb under QProcess's own PID.
        xvfb_.start("bash",
                    {"-c", QStringLiteral("exec Xvfb -displayfd 3 -screen 0 %1 -nolisten tcp -noreset "
                                          "2>/dev/null 3>'%2'")
                               .arg(geometry, displayFile)});
        for (int i = 0; i < 200 && name_.isEmpty(); ++i) {
            QFile f(displayFile);
            if (f.open(QIODevice::ReadOnly))
                if (const QByteArray n = f.readAll().trimmed(); !n.isEmpty())
                    name_ = ":" + QString::fromLatin1(n);
            if (name_.isEmpty())
                QThread::msleep(25);
        }
    }
    ~PrivateDisplay() {
        xvfb_.terminate();
        if (!xvfb_.waitForFinished(5000))
            xvfb_.kill();
    }
    bool ready() const { return !name_.isEmpty(); }

    // Runs a program against this display; returns its exit status (-1 when it did not finish).
    int run(const QString& program, const QStringList& args, const QMap<QString, QString>& env = {},
            QString* output = nullptr, const QByteArray& input = {}) {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const char* scaling : {"QT_SCREEN_SCALE_FACTORS", "QT_SCALE_FACTOR", "QT_QPA_PLATFORM"})
            e.remove(scaling);
        e.insert("DISPLAY", name_);
        for (auto it = env.begin(); it != env.end(); ++it)
            e.insert(it.key(), it.value());
        QProcess p;
        p.setProcessEnvironment(e);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        if (!input.isEmpty())
            p.write(input);
        p.closeWriteChannel();
        const bool finished = p.waitForFinished(180000);
        if (output)
            *output = QString::fromLocal8Bit(p.readAll());
        return finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    // LEFT at native x 0, the primary RIGHT at native x 1920, bound to the output so that the
    // automatic whole-screen monitor does not become a third screen.
    bool twoMonitors() {
        return run("xrandr", {"--setmonitor", "LEFT", "1920/508x1080/286+0+0", "screen"}) == 0 &&
               run("xrandr", {"--setmonitor", "*RIGHT", "1920/508x1080/286+1920+0", "none"}) == 0;
    }

    void checks(const QString& filter, const QMap<QString, QString>& env = {}) {
        QMap<QString, QString> all = env;
        all.insert("GLIMRA_X11_PRIVATE_DISPLAY", "1");
        QString output;
        const int status = run(X11_DISPLAY_CHECKS, {"--gtest_filter=" + filter}, all, &output);
        EXPECT_EQ(status, 0) << output.toStdString();
        EXPECT_FALSE(output.contains("[  SKIPPED ]")) << output.toStdString();
    }

private:
    QTemporaryDir dir_;
    QProcess xvfb_;
    QString name_;
};

} // namespace

TEST(PrivateDisplays, PrimaryRightOfAnotherScreenWithoutWindowManager) {
    PrivateDisplay display("3840x1080x24");
    ASSERT_TRUE(display.ready());
    ASSERT_TRUE(display.twoMonitors());
    display.checks("Scenario.PrimaryRightOfAnotherScreen:Scenario.NoWindowManager");
}

TEST(PrivateDisplays, OneScreenAtScaleTwo) {
    PrivateDisplay display("3840x1080x24");
    ASSERT_TRUE(display.ready());
    ASSERT_TRUE(display.twoMonitors());
    display.checks("Scenario.LeftScreenAtScale2", {{"QT_SCREEN_SCALE_FACTORS", "LEFT=2;RIGHT=1"}});
}

TEST(PrivateDisplays, XftDpi192) {
    PrivateDisplay display("3840x1080x24");
    ASSERT_TRUE(display.ready());
    ASSERT_TRUE(display.twoMonitors());
    ASSERT_EQ(display.run("xrdb", {"-merge"}, {}, nullptr, "Xft.dpi: 192\n"), 0);
    display.checks("Scenario.EveryScreenAtScale2");
}
