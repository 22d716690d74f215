#pragma once
// Helpers for tests that run the real programs on the private session bus of the test session.

#include <QDBusConnection>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace glimra::test {

QString helperExecutable();  // the helper inside the built bundle
QString mainAppExecutable(); // the reference main application inside the built bundle

// Spins the event loop until condition holds or timeoutMs passes; returns the condition's last value.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

// An environment with XDG folders of a temporary directory of its own, so settings, autostart
// entries and URL handlers of one test never leak into another; display and bus are inherited.
class IsolatedHome {
public:
    IsolatedHome();
    QProcessEnvironment environment() const { return env_; }
    QString path(const QString& relative = QString()) const;
    QString configHome() const { return path(QStringLiteral("config")); }
    QString dataHome() const { return path(QStringLiteral("data")); }
    // Writes the helper's settings file directly, as a previous run would have left it.
    void writeHelperSetting(const QString& key, const QString& value) const;
    // Puts a shell script under this name first on the environment's PATH, in a desktop tool's place.
    void installTool(const QString& name, const QString& script);

private:
    QTemporaryDir dir_;
    QProcessEnvironment env_;
};

// A program run for a test: output merged and collected, killed when the object goes.
class Program {
public:
    Program(const QString& executable, const QStringList& arguments, const QProcessEnvironment& env);
    ~Program();
    bool waitForLogLine(const QString& text, int timeoutMs = 5000);
    bool waitForExit(int timeoutMs = 5000);
    bool isRunning() const { return process_->state() != QProcess::NotRunning; }
    int exitCode() const { return process_->exitCode(); }
    QProcess::ExitStatus exitStatus() const { return process_->exitStatus(); }
    QString output();
    qint64 pid() const { return process_->processId(); }
    void terminate();

private:
    std::unique_ptr<QProcess> process_;
    QString output_;
};

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

} // namespace glimra::test
