#include "Bundle.h"

#include "Log.h"
#include "PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTranslator>

#include <memory>

namespace glimra {

std::optional<QString> currentExecutablePath() {
    const QString target = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    if (target.isEmpty() || target.endsWith(QStringLiteral(" (deleted)")))
        return std::nullopt;
    return target;
}

std::optional<QString> Bundle::bundlePathForExecutable(const QString& executablePath) {
    // Pure path arithmetic: the bundle may have moved since, so nothing here may touch the disk.
    const QString path = QDir::cleanPath(QFileInfo(executablePath).absoluteFilePath());
    const QStringList parts = path.split(u'/');
    if (parts.size() < 4 || parts.at(parts.size() - 2) != QStringLiteral("MacOS") ||
        parts.at(parts.size() - 3) != QStringLiteral("Contents"))
        return std::nullopt;
    return parts.mid(0, parts.size() - 3).join(u'/');
}

Bundle& Bundle::mainBundle() {
    static Bundle bundle([] {
        const QString exe = currentExecutablePath().value_or(QCoreApplication::applicationFilePath());
        // Outside a bundle (a test binary, say) the executable's folder stands in for the bundle.
        return bundlePathForExecutable(exe).value_or(QFileInfo(exe).absolutePath());
    }());
    return bundle;
}

QString currentMainBundlePath() {
    if (auto exe = currentExecutablePath())
        if (auto path = Bundle::bundlePathForExecutable(*exe))
            return *path;
    return Bundle::mainBundle().bundlePath();
}

Bundle::Bundle(QString bundlePath) : bundlePath_(std::move(bundlePath)) {
    QString error;
    if (auto info = readPropertyListDictionary(infoPlistPath(), &error))
        info_ = std::move(*info);
    else if (QFileInfo::exists(infoPlistPath()))
        NSLog("Could not read %@: %@", infoPlistPath(), error);
}

QString Bundle::bundleIdentifier() const {
    return info_.value(QStringLiteral("CFBundleIdentifier")).toString();
}

QString Bundle::executablePath() const {
    const QString name = info_.value(QStringLiteral("CFBundleExecutable")).toString();
    if (name.isEmpty() || name.contains(u'/'))
        return {};
    return bundlePath_ + QStringLiteral("/Contents/MacOS/") + name;
}

QString Bundle::pathForResource(const QString& name, const QString& type) const {
    if (name.isEmpty() || name.contains(QStringLiteral("..")))
        return {};
    const QString path = resourcePath() + u'/' + name + (type.isEmpty() ? QString() : u'.' + type);
    return QFileInfo::exists(path) ? path : QString();
}

QString Bundle::localizedString(const char* key) const {
    // Translations are Qt catalogues keyed by the English text, in the context "Localizable".
    return QCoreApplication::translate("Localizable", key);
}

bool Bundle::loadLocalizations(QCoreApplication& app, const QLocale& locale) const {
    auto translator = std::make_unique<QTranslator>(&app);
    if (!translator->load(locale, QStringLiteral("GlimraHelper"), QStringLiteral("_"),
                          resourcePath() + QStringLiteral("/translations")))
        return false;
    QCoreApplication::installTranslator(translator.release()); // owned by app
    return true;
}

} // namespace glimra

namespace glimra {

std::optional<BundleBookmark> BundleBookmark::bookmarkOfMainBundle(QString* error) {
    const auto exe = currentExecutablePath();
    if (!exe || !Bundle::bundlePathForExecutable(*exe)) {
        if (error)
            *error = QStringLiteral("The program does not run from a bundle.");
        return std::nullopt;
    }
    return BundleBookmark();
}

std::optional<QString> BundleBookmark::resolve() const {
    if (auto exe = currentExecutablePath())
        return Bundle::bundlePathForExecutable(*exe);
    return std::nullopt;
}

} // namespace glimra
