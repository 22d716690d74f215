#include "TestSupport.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QThread>
#include <QUuid>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's count (its header does not come with GCC).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace glimra::test {

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

long long heapInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return static_cast<long long>(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long long>(info.uordblks + info.hblkhd);
#endif
}

namespace {

void writeFile(const QString& path, const QByteArray& content, QFile::Permissions permissions = {}) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
    file.close();
    if (permissions)
        file.setPermissions(permissions);
}

} // namespace

IsolatedHome::IsolatedHome() : env_(QProcessEnvironment::systemEnvironment()) {
    for (const char* sub : {"config", "data", "cache", "pictures", "runtime"})
        QDir(dir_.path()).mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(path("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env_.insert(QStringLiteral("HOME"), dir_.path());
    env_.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
    env_.insert(QStringLiteral("XDG_DATA_HOME"), dataHome());
    env_.insert(QStringLiteral("XDG_CACHE_HOME"), path(QStringLiteral("cache")));
    env_.insert(QStringLiteral("XDG_PICTURES_DIR"), path(QStringLiteral("pictures")));
    // A Wayland display named relative to the session's runtime folder stays reachable from this one.
    const QString wayland = env_.value(QStringLiteral("WAYLAND_DISPLAY"));
    if (!wayland.isEmpty() && !wayland.startsWith(u'/'))
        env_.insert("WAYLAND_DISPLAY", env_.value("XDG_RUNTIME_DIR") + u'/' + wayland);
    env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("runtime")));
}

QString IsolatedHome::path(const QString& relative) const {
    return relative.isEmpty() ? dir_.path() : dir_.path() + u'/' + relative;
}

void IsolatedHome::writeHelperSetting(const QString& key, const QString& value) const {
    const QString file = configHome() + QStringLiteral("/glimra/app.glimra.GlimraHelper.conf");
    const QByteArray content = fileContents(file);
    writeFile(file, (content.isEmpty() ? "[General]\n" : content) + (key + u'=' + value + u'\n').toUtf8());
}

QString IsolatedHome::installTool(const QString& name, const QString& script) {
    const QString bin = path(QStringLiteral("bin"));
    writeFile(bin + u'/' + name, ("#!/bin/sh\n" + script + u'\n').toUtf8(),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString searchPath = env_.value(QStringLiteral("PATH"));
    if (!searchPath.startsWith(bin + u':'))
        env_.insert(QStringLiteral("PATH"), bin + u':' + searchPath);
    return bin + u'/' + name;
}

void IsolatedHome::registerUrlHandler(const QString& shotsDir, int launchDelayMs) {
    // A launcher script keeps the desktop entry's quoting simple.
    const QString launcher =
        installTool("launch-glimra", QStringLiteral("sleep %1\nexec '%2' --output '%3' \"$@\"")
                                         .arg(launchDelayMs / 1000.0)
                                         .arg(kMainAppExecutable, shotsDir));
    writeFile(dataHome() + "/applications/app.glimra.Glimra.desktop",
              ("[Desktop Entry]\nType=Application\nName=Glimra\nExec=\"" + launcher +
               "\" %u\nMimeType=x-scheme-handler/glimra;\nNoDisplay=true\n")
                  .toUtf8());
    writeFile(configHome() + QStringLiteral("/mimeapps.list"),
              "[Default Applications]\nx-scheme-handler/glimra=app.glimra.Glimra.desktop\n");
}

Program::Program(const QString& executable, const QStringList& arguments, const QProcessEnvironment& env)
    : executable_(executable) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    std::vector<QByteArray> storage{executable.toLocal8Bit()};
    for (const QString& a : arguments)
        storage.push_back(a.toLocal8Bit());
    const size_t argumentCount = storage.size();
    for (const QString& variable : env.toStringList())
        storage.push_back(variable.toLocal8Bit());
    std::vector<char*> argv, envp;
    for (size_t i = 0; i < storage.size(); ++i)
        (i < argumentCount ? argv : envp).push_back(storage[i].data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
    reader_ = std::make_unique<QSocketNotifier>(out_, QSocketNotifier::Read);
    QObject::connect(reader_.get(), &QSocketNotifier::activated, [this] { output(); });
}

Program::~Program() {
    if (isRunning()) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    // In the sanitizer build the programs under test are instrumented too: what they report as they
    // end (a leak above all) fails the test that ran them.
    const QString out = output();
    for (const char* report : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", ": runtime error: "}) {
        if (const qsizetype at = out.indexOf(QLatin1String(report)); at >= 0) {
            ADD_FAILURE() << executable_.toStdString() << " reported:\n" << out.mid(at, 4000).toStdString();
            break;
        }
    }
    // What a program of a failed test said is what explains the failure: it is printed once, here.
    if (::testing::Test::HasFailure())
        std::cerr << executable_.toStdString() << " said:\n" << out.toStdString() << '\n';
    reader_.reset();
    if (out_ >= 0)
        close(out_);
}

bool Program::isRunning() const {
    int status = 0;
    if (!exited_ && pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        crashed_ = !WIFEXITED(status);
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return pid_ > 0 && !exited_;
}

QString Program::output() {
    char buffer[4096];
    ssize_t n = -1;
    while (out_ >= 0 && (n = read(out_, buffer, sizeof buffer)) > 0)
        output_ += QString::fromUtf8(buffer, n);
    if (n == 0 && reader_) // the program and all it started have closed their end
        reader_->setEnabled(false);
    return output_;
}

bool Program::waitForLogLine(const QString& text, int timeoutMs) {
    return waitUntil([&] { return output().contains(text); }, timeoutMs);
}

bool Program::waitForExit(int timeoutMs) {
    const bool exited = waitUntil([&] { return !isRunning(); }, timeoutMs);
    output();
    return exited;
}

void Program::terminate() {
    if (isRunning())
        ::kill(pid_, SIGTERM);
}

QString gdbusCall(const QString& dest, const QStringList& methodAndArguments, int* exitCode,
                  const QString& path) {
    Program gdbus("gdbus",
                  QStringList{"call", "--session", "--dest", dest, "--object-path", path, "--method"} +
                      methodAndArguments);
    gdbus.waitForExit(20000);
    if (exitCode)
        *exitCode = gdbus.exitCode();
    return gdbus.output().trimmed();
}

BusClient::BusClient(Kind kind)
    : name_(kind == Own ? "test-" + QUuid::createUuid().toString(QUuid::Id128) : QString()),
      connection_(kind == Own ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, name_)
                              : QDBusConnection::sessionBus()) {}

BusClient::~BusClient() {
    if (!name_.isEmpty())
        QDBusConnection::disconnectFromBus(name_);
}

bool BusClient::ownName(const QString& name) {
    return connection_.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                                    QDBusConnectionInterface::DontAllowReplacement) ==
           QDBusConnectionInterface::ServiceRegistered;
}

void BusClient::releaseName(const QString& name) {
    connection_.interface()->unregisterService(name);
}

QByteArray fileContents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool nameHasOwner(const QString& name) {
    const QDBusReply<bool> reply = QDBusConnection::sessionBus().interface()->isServiceRegistered(name);
    return reply.isValid() && reply.value();
}

namespace {
CapturedLog* capturing = nullptr; // the one that records now
} // namespace

CapturedLog::CapturedLog() {
    capturing = this;
    previous_ = qInstallMessageHandler(&CapturedLog::record);
}

CapturedLog::~CapturedLog() {
    qInstallMessageHandler(previous_);
    capturing = nullptr;
}

void CapturedLog::record(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (!capturing)
        return;
    capturing->lines_ << message;
    if (capturing->previous_)
        capturing->previous_(type, context, message);
}

bool CapturedLog::waitFor(const QString& wanted, int timeoutMs) {
    return waitUntil([&] { return this->text().contains(wanted); }, timeoutMs);
}

} // namespace glimra::test
