#pragma once
// The bundle: a relocatable directory tree NAME.app/Contents/{Info.plist, MacOS/, Resources/}.
// The running program's own bundle is found from its executable's location.

#include "ObjCFormat.h"

#include <QCoreApplication>
#include <QLocale>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace glimra {

class Bundle {
public:
    // The bundle of the running executable, made on first use from /proc/self/exe.
    static Bundle& mainBundle();

    // X.app for an executable at X.app/Contents/MacOS/NAME; nullopt when it does not lie in a bundle.
    static std::optional<QString> bundlePathForExecutable(const QString& executablePath);

    explicit Bundle(QString bundlePath);

    // The path as it was when the bundle was opened.
    const QString& bundlePath() const { return bundlePath_; }
    QString resourcePath() const { return bundlePath_ + QStringLiteral("/Contents/Resources"); }
    QString infoPlistPath() const { return bundlePath_ + QStringLiteral("/Contents/Info.plist"); }

    // The Info.plist dictionary; empty when the file is missing or broken (logged once).
    const QVariantMap& infoDictionary() const { return info_; }
    QVariant objectForInfoDictionaryKey(const QString& key) const { return info_.value(key); }
    QString bundleIdentifier() const;
    // The executable named by CFBundleExecutable, inside Contents/MacOS; empty when not named.
    QString executablePath() const;

    // Contents/Resources/NAME.TYPE (or NAME when type is empty) when it exists, else empty.
    QString pathForResource(const QString& name, const QString& type) const;

    // The translation of key (the English text) in the current locale; the key itself when there is none.
    // Keys are marked where they are written with QT_TRANSLATE_NOOP("Localizable", key), so lupdate
    // collects them into the catalogues under resources/translations.
    QString localizedString(const char* key) const;
    // Installs in app the catalogue for the first of locale's languages that has one, from
    // Contents/Resources/translations/GlimraHelper_<language>.qm. English, the keys' own language,
    // needs none. Returns whether one was installed.
    bool loadLocalizations(QCoreApplication& app, const QLocale& locale = QLocale()) const;
    template <typename... Args> QString localizedStringWithFormat(const char* key, Args&&... args) const {
        return formatObjC(localizedString(key), QStringList{formatArgument(std::forward<Args>(args))...});
    }

private:
    QString bundlePath_;
    QVariantMap info_;
};

// Where the running executable lies now. Linux keeps /proc/self/exe in step with renames of the
// executable and of every folder above it, which is what lets a bundle report its path after a move.
// nullopt when the executable was deleted.
std::optional<QString> currentExecutablePath();

// The main bundle's current path: follows moves while the program runs, falls back to the path at start.
QString currentMainBundlePath();

} // namespace glimra

namespace glimra {

// What stays of the main bundle when it is moved while the program runs: resolving it gives the
// bundle's path now. Made at start-up; nullopt when the program does not run from a bundle.
class BundleBookmark {
public:
    static std::optional<BundleBookmark> bookmarkOfMainBundle(QString* error);
    // nullopt when the bundle can no longer be found (its executable was deleted).
    std::optional<QString> resolve() const;

private:
    BundleBookmark() = default;
};

} // namespace glimra
