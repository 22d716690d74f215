// The installed tree: `cmake --install` of this build into a staging folder, unpacked at its prefix as
// a package manager would; every desktop file checked by the desktop's own validator; the installed
// programs on a session bus that activates services from the installed tree; and the Debian package.

#include "TestSupport.h"

#include <QDBusConnectionInterface>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

using namespace glimra::test;

namespace {

const QString kHelperInBundle = QStringLiteral(
    "lib/glimra/Glimra.app/Contents/Library/LoginItems/GlimraHelper.app/Contents/MacOS/GlimraHelper");

struct Result {
    int status = -1;
    QString output;
};

Result run(const QString& program, const QStringList& arguments,
           const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    Program process(program, arguments, env);
    const bool finished = process.waitForExit(120000) && process.exitStatus() == QProcess::NormalExit;
    return {finished ? process.exitCode() : -1, process.output()};
}

QString missingTool(std::initializer_list<const char*> tools) {
    for (const char* tool : tools)
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return QString::fromLatin1(tool);
    return {};
}

#define SKIP_WITHOUT(...)                                                                                    \
    if (const QString tool = missingTool({__VA_ARGS__}); !tool.isEmpty())                                    \
    GTEST_SKIP() << tool.toStdString() << " is not installed (scripts/test installs it)"

// A session bus of the test's own that activates the services of one folder, with the environment
// of an isolated home: the bus starts activated programs in it.
class ActivatingBus {
public:
    ActivatingBus(const IsolatedHome& home, const QString& serviceFolder) : env_(home.environment()) {
        const QString config = home.path("bus.conf");
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write(
            QStringLiteral("<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                           "<auth>EXTERNAL</auth><servicedir>%1</servicedir><policy context=\"default\">"
                           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                           "<allow own=\"*\"/></policy></busconfig>")
                .arg(serviceFolder.toHtmlEscaped())
                .toUtf8());
        file.close();
        const QString address = QStringLiteral("unix:path=") + home.path("runtime/bus");
        env_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        daemon_ = std::make_unique<Program>(
            "dbus-daemon",
            QStringList{"--nofork", "--nosyslog", "--config-file=" + config, "--address=" + address}, env_);
        // A failed connection stays under its name: each try begins by dropping it.
        waitUntil([&] {
            QDBusConnection::disconnectFromBus(QStringLiteral("install-test"));
            bus_ = QDBusConnection::connectToBus(address, QStringLiteral("install-test"));
            return bus_.isConnected();
        });
    }
    ~ActivatingBus() {
        // The programs the bus started end here, should the test have failed first: those still
        // running the executable they ran when seen (a number may belong to another process by now).
        for (const auto& [pid, executable] : started_)
            if (executableOf(pid) == executable)
                ::kill(pid_t(pid), SIGTERM);
        QDBusConnection::disconnectFromBus(QStringLiteral("install-test"));
    }

    bool ok() const { return bus_.isConnected(); }
    const QProcessEnvironment& environment() const { return env_; }
    bool hasOwner(const QString& name) { return bus_.interface()->isServiceRegistered(name).value(); }
    // The program owning name, remembered to be ended with the bus; empty when there is none.
    QString executableOf(const QString& name) {
        const uint pid = bus_.interface()->servicePid(name).value();
        if (pid == 0)
            return {};
        started_.append({pid, executableOf(pid)});
        return started_.last().second;
    }
    QString output() { return daemon_ ? daemon_->output() : QString(); }

private:
    QProcessEnvironment env_;
    std::unique_ptr<Program> daemon_;
    QDBusConnection bus_{QString()};
    QList<std::pair<uint, QString>> started_;

    static QString executableOf(uint pid) {
        return QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).canonicalFilePath();
    }
};

class Installed : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root = std::make_unique<QTemporaryDir>();
        // A space in the prefix: every Exec line must quote it.
        prefix = root->path() + "/Glimra Apps/usr";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DESTDIR", stage());
        const Result install =
            run(GLIMRA_CMAKE_COMMAND, {"--install", GLIMRA_BUILD_DIR, "--prefix", prefix, "--strip"}, env);
        installLog = install.output;
        QDir().mkpath(QFileInfo(prefix).path());
        installed = install.status == 0 && QDir().rename(stage() + prefix, prefix);
    }
    static void TearDownTestSuite() { root.reset(); }
    void SetUp() override { ASSERT_TRUE(installed) << installLog.toStdString(); }

    static QString stage() { return root->path() + "/stage"; }
    static QString at(const QString& relative) { return prefix + u'/' + relative; }

    static inline std::unique_ptr<QTemporaryDir> root;
    static inline QString prefix;
    static inline QString installLog;
    static inline bool installed = false;
};

} // namespace

TEST_F(Installed, EveryFilePassesItsValidatorAndNothingPointsBackIntoTheBuild) {
    SKIP_WITHOUT("desktop-file-validate", "appstreamcli", "systemd-analyze");
    for (const char* name : {"app.glimra.Glimra", "app.glimra.GlimraHelper"}) {
        const Result entry =
            run("desktop-file-validate", {at(QStringLiteral("share/applications/%1.desktop").arg(name))});
        EXPECT_TRUE(entry.status == 0 && entry.output.isEmpty())
            << name << ": " << entry.output.toStdString();
    }
    // KWin hands screenshots to the executable this entry names, and only to it.
    const QByteArray helperEntry = fileContents(at("share/applications/app.glimra.GlimraHelper.desktop"));
    EXPECT_TRUE(helperEntry.contains(("\nExec=\"" + at(kHelperInBundle) + "\"\n").toUtf8()))
        << helperEntry.toStdString();

    // The user unit systemd restarts a crashed helper with, which the session bus starts it through.
    const QString unit = at("lib/systemd/user/app.glimra.GlimraHelper.service");
    QTemporaryDir runtime;
    const Result verify = run("env", {"XDG_RUNTIME_DIR=" + runtime.path(), "MANPATH=" + at("share/man"),
                                      "systemd-analyze", "--user", "verify", unit});
    EXPECT_TRUE(verify.status == 0 && verify.output.isEmpty()) << verify.output.toStdString();
    EXPECT_TRUE(fileContents(unit).contains(("\nExecStart=\"" + at(kHelperInBundle) + "\"\n").toUtf8()))
        << fileContents(unit).toStdString();

    const QString metainfo = at("share/metainfo/app.glimra.Glimra.metainfo.xml");
    const Result appstream = run("appstreamcli", {"validate", "--no-net", metainfo});
    EXPECT_EQ(appstream.status, 0) << appstream.output.toStdString();

    // Commands: links relative to their folder, into the bundle.
    for (const auto& [command, executable] :
         {std::pair{"glimra", "Glimra"}, {"glimra-xpc-send", "glimra-xpc-send"}}) {
        const QString link = at(QStringLiteral("bin/%1").arg(command));
        EXPECT_TRUE(std::filesystem::read_symlink(link.toStdString()).is_relative()) << command;
        EXPECT_EQ(QFileInfo(link).canonicalFilePath(),
                  at(QStringLiteral("lib/glimra/Glimra.app/Contents/MacOS/%1").arg(executable)));
    }

    // No build or staging path in any file but the programs (the package's lintian run judges those,
    // their run paths, the manual pages and the icons' sizes).
    for (QDirIterator it(prefix, QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString path = it.next();
        const QByteArray bytes = fileContents(path);
        EXPECT_TRUE(bytes.startsWith("\177ELF") ||
                    !(bytes.contains(GLIMRA_BUILD_DIR) || bytes.contains(stage().toUtf8())))
            << path.toStdString();
    }
}

// The installed main application starts the installed helper by its bus name (which captures in the
// next test, on a desktop's action); asked while it runs, it writes the login item, which starts the helper
// as a desktop session does; started asked to, it removes the item again. With nothing running, a call from
// elsewhere fails at once and a desktop's action is served, the main application started for it.
TEST_F(Installed, TheMainApplicationStartsTheHelperAndTheLoginItemStartsIt) {
    SKIP_WITHOUT("dbus-daemon", "gio", "desktop-file-validate");
    IsolatedHome home;
    ActivatingBus bus(home, at("share/dbus-1/services"));
    ASSERT_TRUE(bus.ok()) << bus.output().toStdString();
    const QString helper = at(kHelperInBundle);
    const QString loginItem = home.configHome() + "/autostart/app.glimra.GlimraHelper.desktop";
    const QString settings = home.configHome() + "/glimra/app.glimra.GlimraHelper.conf";

    auto mainApp = std::make_unique<Program>(at("bin/glimra"), QStringList{}, bus.environment());
    const auto diagnostics = [&] { return (mainApp->output() + bus.output()).toStdString(); };
    ASSERT_TRUE(waitUntil([&] { return bus.hasOwner(kHelperName); }, 20000)) << diagnostics();
    EXPECT_EQ(bus.executableOf(kHelperName), helper);
    ASSERT_TRUE(mainApp->waitForLogLine("Connected to the helper", 10000)) << diagnostics();

    // As the README tells users to: the Glimra that runs is handed the request.
    const Result handed = run(at("bin/glimra"), {"--start-helper-at-login", "true"}, bus.environment());
    EXPECT_EQ(handed.status, 0);
    EXPECT_TRUE(handed.output.contains("handed it --start-helper-at-login true: The helper starts at login"))
        << handed.output.toStdString();
    const Result entry = run("desktop-file-validate", {loginItem});
    EXPECT_EQ(entry.status, 0) << entry.output.toStdString() << diagnostics();
    EXPECT_TRUE(waitUntil([&] { return fileContents(settings).contains("StartHelperAtLogin=true"); }));
    mainApp->terminate();
    ASSERT_TRUE(waitUntil([&] { return !bus.hasOwner(kHelperName); })) << diagnostics();

    // Logging in: the session starts what the login item says, and the helper stays for it.
    run("gio", {"launch", loginItem}, bus.environment());
    ASSERT_TRUE(waitUntil([&] { return bus.hasOwner(kHelperName); }, 20000)) << diagnostics();
    EXPECT_EQ(bus.executableOf(kHelperName), helper);

    mainApp = std::make_unique<Program>(at("bin/glimra"), QStringList{"--start-helper-at-login", "false"},
                                        bus.environment());
    EXPECT_TRUE(waitUntil([&] { return fileContents(settings).contains("StartHelperAtLogin=false"); }))
        << diagnostics();
    EXPECT_FALSE(QFile::exists(loginItem));
    mainApp->terminate();
    EXPECT_TRUE(waitUntil([&] { return !bus.hasOwner(kHelperName); })) << diagnostics();

    // Any other caller starts a helper with nothing to serve: its call fails within seconds, not on a
    // timeout.
    QElapsedTimer clock;
    clock.start();
    const Result call =
        run("gdbus",
            {"call", "--session", "--dest", kHelperName, "--object-path", "/xpc", "--method",
             "app.glimra.xpc.Listener.SendWithReply", "0", "{'id': <uint64 3>}", "--timeout", "60"},
            bus.environment());
    EXPECT_NE(call.status, 0) << call.output.toStdString() << diagnostics();
    EXPECT_LT(clock.elapsed(), 15000);
    EXPECT_TRUE(waitUntil([&] { return !bus.hasOwner(kHelperName); })) << diagnostics();
}

// A desktop's action with nothing running: the bus starts the helper for it, which captures, starts the
// main application for the screenshot and hands it over, then stays with it. The same on X11 and on
// Wayland (where this runs in the sway session too).
TEST_F(Installed, ADesktopActionWithNothingRunningStartsTheHelperWhichDelivers) {
    SKIP_WITHOUT("dbus-daemon", "gapplication");
    IsolatedHome home;
    ActivatingBus bus(home, at("share/dbus-1/services"));
    ASSERT_TRUE(bus.ok()) << bus.output().toStdString();
    const QString shots = home.path("shots");
    home.registerUrlHandler(shots);
    const Result action =
        run("gapplication", {"action", kHelperName, "capture-fullscreen"}, bus.environment());
    EXPECT_EQ(action.status, 0) << action.output.toStdString() << bus.output().toStdString();
    ASSERT_TRUE(waitUntil([&] { return !QDir(shots).entryList({"*.png"}, QDir::Files).isEmpty(); }, 20000))
        << bus.output().toStdString();
    const QImage shot(QDir(shots).filePath(QDir(shots).entryList({"*.png"}).first()));
    EXPECT_FALSE(shot.isNull());
    EXPECT_EQ(bus.executableOf(kHelperName), at(kHelperInBundle));
    EXPECT_FALSE(bus.executableOf(kMainAppName).isEmpty());
    QThread::msleep(500);
    EXPECT_TRUE(bus.hasOwner(kHelperName)) << bus.output().toStdString();
}

// The Debian package of this build: files under /usr, dependencies read from the binaries, and no
// error or warning that lintian knows of (run paths, manual pages, icon sizes among them).
TEST_F(Installed, TheDebianPackageHasItsFilesUnderUsrAndNoLintianWarnings) {
    SKIP_WITHOUT("dpkg-deb", "dpkg-shlibdeps", "lintian");
    const QString out = root->path() + "/package";
    const Result cpack =
        run(GLIMRA_CPACK_COMMAND, {"--config", GLIMRA_BUILD_DIR "/CPackConfig.cmake", "-B", out});
    ASSERT_EQ(cpack.status, 0) << cpack.output.toStdString();
    const QStringList debs = QDir(out).entryList({"glimra_*_*.deb"}, QDir::Files);
    ASSERT_EQ(debs.size(), 1) << cpack.output.toStdString();
    const QString deb = out + u'/' + debs.first();

    const QString depends = run("dpkg-deb", {"--field", deb, "Depends"}).output;
    EXPECT_TRUE(depends.contains("libqt6widgets6") && depends.contains("libc6")) << depends.toStdString();
    const QStringList files = run("dpkg-deb", {"--contents", deb}).output.split(u'\n', Qt::SkipEmptyParts);
    for (const QString& line : files)
        EXPECT_TRUE(line.contains(" ./usr/") || line.endsWith(" ./")) << line.toStdString();
    const Result lintian = run("lintian", {"--fail-on", "error,warning", deb});
    EXPECT_EQ(lintian.status, 0) << lintian.output.toStdString();
}
