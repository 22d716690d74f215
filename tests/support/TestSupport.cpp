#include "TestSupport.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QUuid>

namespace glimra::test {

QString helperExecutable() {
    return QStringLiteral(GLIMRA_HELPER_BUNDLE_DIR "/Contents/MacOS/GlimraHelper");
}

QString mainAppExecutable() {
    return QStringLiteral(GLIMRA_BUNDLE_DIR "/Contents/MacOS/Glimra");
}

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

IsolatedHome::IsolatedHome() : env_(QProcessEnvironment::systemEnvironment()) {
    for (const char* sub : {"config", "data", "cache", "pictures", "runtime"})
        QDir(dir_.path()).mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(path(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env_.insert(QStringLiteral("HOME"), dir_.path());
    env_.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome());
    env_.insert(QStringLiteral("XDG_DATA_HOME"), dataHome());
    env_.insert(QStringLiteral("XDG_CACHE_HOME"), path(QStringLiteral("cache")));
    env_.insert(QStringLiteral("XDG_PICTURES_DIR"), path(QStringLiteral("pictures")));
    env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("runtime")));
}

QString IsolatedHome::path(const QString& relative) const {
    return relative.isEmpty() ? dir_.path() : dir_.path() + u'/' + relative;
}

void IsolatedHome::writeHelperSetting(const QString& key, const QString& value) const {
    QDir().mkpath(configHome() + QStringLiteral("/glimra"));
    QFile file(configHome() + QStringLiteral("/glimra/app.glimra.GlimraHelper.conf"));
    if (file.open(QIODevice::Append | QIODevice::Text)) {
        if (file.size() == 0)
            file.write("[General]\n");
        file.write((key + u'=' + value + u'\n').toUtf8());
    }
}

void IsolatedHome::installTool(const QString& name, const QString& script) {
    const QString bin = path(QStringLiteral("bin"));
    QDir().mkpath(bin);
    QFile file(bin + u'/' + name);
    if (file.open(QIODevice::WriteOnly))
        file.write(("#!/bin/sh\n" + script + u'\n').toUtf8());
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString path = env_.value(QStringLiteral("PATH"));
    if (!path.startsWith(bin + u':'))
        env_.insert(QStringLiteral("PATH"), bin + u':' + path);
}

Program::Program(const QString& executable, const QStringList& arguments, const QProcessEnvironment& env)
    : process_(std::make_unique<QProcess>()) {
    process_->setProcessEnvironment(env);
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->start(executable, arguments);
    process_->waitForStarted(5000);
}

Program::~Program() {
    if (process_->state() != QProcess::NotRunning) {
        process_->kill();
        process_->waitForFinished(5000);
    }
}

QString Program::output() {
    output_ += QString::fromUtf8(process_->readAll());
    return output_;
}

bool Program::waitForLogLine(const QString& text, int timeoutMs) {
    return waitUntil([&] { return output().contains(text); }, timeoutMs);
}

bool Program::waitForExit(int timeoutMs) {
    const bool exited = waitUntil([&] { return process_->state() == QProcess::NotRunning; }, timeoutMs);
    output();
    return exited;
}

void Program::terminate() {
    process_->terminate();
}

BusClient::BusClient(Kind kind)
    : name_(kind == Own ? QStringLiteral("test-") + QUuid::createUuid().toString(QUuid::Id128) : QString()),
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

bool nameHasOwner(const QString& name) {
    const QDBusReply<bool> reply = QDBusConnection::sessionBus().interface()->isServiceRegistered(name);
    return reply.isValid() && reply.value();
}

} // namespace glimra::test
