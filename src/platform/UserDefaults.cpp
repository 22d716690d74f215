#include "UserDefaults.h"

#include "Bundle.h"
#include "Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace glimra {
namespace {

bool variantToBool(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return v.toDouble() != 0.0;
    case QMetaType::QString: {
        // INI files give strings back; accept the spellings a person editing the file would use.
        const QString s = v.toString().trimmed().toLower();
        if (s == u"true" || s == u"yes")
            return true;
        bool ok = false;
        const double d = s.toDouble(&ok);
        return ok && d != 0.0;
    }
    default:
        return false;
    }
}

qint64 variantToInteger(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? 1 : 0;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return v.toLongLong();
    case QMetaType::Double:
        return qint64(v.toDouble());
    case QMetaType::QString: {
        const QString s = v.toString().trimmed();
        bool ok = false;
        const qint64 n = s.toLongLong(&ok);
        if (ok)
            return n;
        const double d = s.toDouble(&ok);
        return ok ? qint64(d) : 0;
    }
    default:
        return 0;
    }
}

} // namespace

UserDefaults& UserDefaults::standardUserDefaults() {
    static UserDefaults defaults([] {
        QString domain = Bundle::mainBundle().bundleIdentifier();
        return domain.isEmpty() ? QCoreApplication::applicationName() : domain;
    }());
    return defaults;
}

UserDefaults::UserDefaults(const QString& domain) {
    const QString dir =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/glimra");
    // The settings are the user's alone whatever the umask: a folder nobody else may enter hides the
    // file even before its own mode is tightened after a write.
    QDir().mkpath(dir);
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    settings_ =
        std::make_unique<QSettings>(dir + u'/' + domain + QStringLiteral(".conf"), QSettings::IniFormat);
    restrictFile();
}

void UserDefaults::restrictFile() {
    if (QFile::exists(settings_->fileName()))
        QFile::setPermissions(settings_->fileName(), QFile::ReadOwner | QFile::WriteOwner);
}

UserDefaults::~UserDefaults() = default;

QString UserDefaults::filePath() const {
    return settings_->fileName();
}

void UserDefaults::registerDefaults(const QVariantMap& defaults) {
    std::lock_guard lock(mutex_);
    for (auto it = defaults.begin(); it != defaults.end(); ++it)
        registered_.insert(it.key(), it.value());
}

QVariant UserDefaults::objectForKey(const QString& key) const {
    std::lock_guard lock(mutex_);
    // Another process (a second helper, the user) may have written the file since.
    settings_->sync();
    const QVariant stored = settings_->value(key);
    return stored.isValid() ? stored : registered_.value(key);
}

bool UserDefaults::boolForKey(const QString& key) const {
    return variantToBool(objectForKey(key));
}

qint64 UserDefaults::integerForKey(const QString& key) const {
    return variantToInteger(objectForKey(key));
}

void UserDefaults::setBool(bool value, const QString& key) {
    save(key, value);
}

void UserDefaults::setInteger(qint64 value, const QString& key) {
    save(key, value);
}

void UserDefaults::save(const QString& key, const QVariant& value) {
    std::lock_guard lock(mutex_);
    settings_->setValue(key, value);
    settings_->sync();
    restrictFile();
    // QSettings keeps the first error it met for good, and tries again at every sync: one line says so.
    if (settings_->status() == QSettings::NoError || saidUnsaved_)
        return;
    saidUnsaved_ = true;
    NSLog("Could not save the setting %@ in %@ (%@); settings hold only until the program ends.", key,
          settings_->fileName(), whyUnsaved());
}

QString UserDefaults::whyUnsaved() const {
    if (settings_->status() == QSettings::FormatError)
        return QStringLiteral("the file is not a settings file");
    // The nearest folder on the way that exists: a file in place of a folder is the usual cause.
    QFileInfo folder(QFileInfo(settings_->fileName()).absolutePath());
    while (!folder.exists() && !folder.isRoot())
        folder.setFile(folder.absolutePath());
    if (!folder.isDir())
        return QStringLiteral("%1 is a file, not a folder").arg(folder.filePath());
    if (folder.filePath() != QFileInfo(settings_->fileName()).absolutePath())
        return QStringLiteral("its folder cannot be made in %1").arg(folder.filePath());
    return QStringLiteral("the file cannot be written");
}

} // namespace glimra
