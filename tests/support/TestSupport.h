#pragma once
// Helpers for tests that run the real programs on the private session bus of the test session.

#include <QDBusConnection>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class QSocketNotifier;

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <sys/types.h>

namespace glimra::test {

inline const QString kMainAppName = QStringLiteral("app.glimra.Glimra");
inline const QString kHelperName = QStringLiteral("app.glimra.GlimraHelper");

// The helper and the reference main application inside the built bundle.
inline const QString kHelperExecutable =
    QStringLiteral(GLIMRA_HELPER_BUNDLE_DIR "/Contents/MacOS/GlimraHelper");
inline const QString kMainAppExecutable = QStringLiteral(GLIMRA_BUNDLE_DIR "/Contents/MacOS/Glimra");
// How long a test waits for a desktop to answer: longer than the helper, whose sessions run alone.
inline constexpr std::chrono::milliseconds kTestTimeout{10000};

// Spins the event loop until condition holds or timeoutMs passes; returns the condition's last value.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
// Spins the event loop for ms.
inline void pause(int ms) {
    waitUntil([] { return false; }, ms);
}

// Bytes of heap the process holds now (allocated and not freed), from the allocator in use: glibc's,
// or the sanitizers' own.
long long heapInUse();
// A file's bytes, empty where it cannot be read.
QByteArray fileContents(const QString& path);

// An environment with XDG folders of a temporary directory of its own, so settings, autostart
// entries and URL handlers of one test never leak into another; display and bus are inherited.
class IsolatedHome {
public:
    IsolatedHome();
    QProcessEnvironment environment() const { return env_; }
    void setVariable(const QString& name, const QString& value) { env_.insert(name, value); }
    QString path(const QString& relative = QString()) const;
    QString configHome() const { return path(QStringLiteral("config")); }
    QString dataHome() const { return path(QStringLiteral("data")); }
    // Writes the helper's settings file directly, as a previous run would have left it.
    void writeHelperSetting(const QString& key, const QString& value) const;
    // Puts a shell script under this name first on the environment's PATH, in a desktop tool's place;
    // returns its path.
    QString installTool(const QString& name, const QString& script);
    // Registers the reference main application, saving into shotsDir, as the handler of glimra:///;
    // launchDelayMs delays its start, as a slow disk would.
    void registerUrlHandler(const QString& shotsDir, int launchDelayMs = 0);

private:
    QTemporaryDir dir_;
    QProcessEnvironment env_;
};

// A program run for a test: output merged and collected, killed when the object goes; a sanitizer's
// report in its output fails the test, and a failed test shows its output. Started with posix_spawn rather
// than QProcess, whose child runs Qt code in the parent's memory before exec, which ThreadSanitizer cannot
// follow.
class Program {
public:
    Program(const QString& executable, const QStringList& arguments,
            const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool waitForLogLine(const QString& text, int timeoutMs = 10000);
    bool waitForExit(int timeoutMs = 10000);
    bool isRunning() const;
    int exitCode() const { return exitCode_; }
    QProcess::ExitStatus exitStatus() const { return crashed_ ? QProcess::CrashExit : QProcess::NormalExit; }
    QString output();
    qint64 pid() const { return pid_; }
    void terminate();

private:
    QString executable_;
    pid_t pid_ = -1;
    int out_ = -1;
    mutable bool exited_ = false;
    mutable bool crashed_ = false;
    mutable int exitCode_ = -1;
    QString output_;
    // Reads whenever the event loop runs, so that a talkative program never blocks on a full pipe.
    std::unique_ptr<QSocketNotifier> reader_;
};

// The output of `gdbus call --session --dest dest --object-path path --method method arguments...`.
QString gdbusCall(const QString& dest, const QStringList& methodAndArguments, int* exitCode = nullptr,
                  const QString& path = QStringLiteral("/xpc"));

// A connection of its own to the session bus, dropped (with the names it owns) on destruction; or,
// made with Shared, the process's session connection, the one its XPC connections use.
class BusClient {
public:
    enum Kind { Own, Shared };
    explicit BusClient(Kind kind = Own);
    ~BusClient();
    QDBusConnection& connection() { return connection_; }
    bool ownName(const QString& name);
    void releaseName(const QString& name);

private:
    QString name_;
    QDBusConnection connection_;
};

bool nameHasOwner(const QString& name);

// The Qt log messages of this process while the object lives; they still reach stderr as well.
class CapturedLog {
public:
    CapturedLog();
    ~CapturedLog();
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;
    // Waits until a message holds text; the messages so far are in text().
    bool waitFor(const QString& text, int timeoutMs = 5000);
    QString text() const { return lines_.join(QLatin1Char('\n')); }

private:
    static void record(QtMsgType type, const QMessageLogContext& context, const QString& message);
    QStringList lines_;
    QtMessageHandler previous_ = nullptr;
};

// The name of a parameterised test's case that carries its own name.
inline const auto caseName = [](const auto& info) { return std::string(info.param.name); };

} // namespace glimra::test
