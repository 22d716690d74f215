#pragma once
// User defaults of one domain: values the user (or the main application) set, stored with QSettings
// under the XDG config directory, over registered defaults that live only in memory.

#include <QString>
#include <QVariantMap>

#include <memory>
#include <mutex>

class QSettings;

namespace glimra {

class UserDefaults {
public:
    // The defaults of the running program's domain (its bundle identifier), made on first use.
    static UserDefaults& standardUserDefaults();

    // Defaults of domain stored at DIR/glimra/DOMAIN.conf, DIR being $XDG_CONFIG_HOME or ~/.config.
    explicit UserDefaults(const QString& domain);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    QString filePath() const;

    // Merged over earlier registrations; never written to disk.
    void registerDefaults(const QVariantMap& defaults);

    // false / 0 when the key has no value or a value that is not a boolean or number.
    bool boolForKey(const QString& key) const;
    qint64 integerForKey(const QString& key) const;
    QVariant objectForKey(const QString& key) const;

    // Written through to disk at once, so the value survives the process; the first value that cannot
    // be saved is logged, and values then hold in memory.
    void setBool(bool value, const QString& key);
    void setInteger(qint64 value, const QString& key);

private:
    void save(const QString& key, const QVariant& value);
    QString whyUnsaved() const;
    // Owner read and write only.
    void restrictFile();

    mutable std::mutex mutex_; // written from XPC delivery threads, read on the main thread
    std::unique_ptr<QSettings> settings_;
    QVariantMap registered_;
    bool saidUnsaved_ = false;
};

} // namespace glimra
