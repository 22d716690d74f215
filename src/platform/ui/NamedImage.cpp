#include "NamedImage.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QLoggingCategory>
#include <QPixmap>
#include <QRegularExpression>

Q_LOGGING_CATEGORY(lcImages, "glimra.images")

namespace glimra {

namespace {

// A reader that takes the file for PNG and nothing else: one left to guess would load every image format
// plugin there is (a few MB of libraries, for the life of the process) to ask each about the file.
class PngReader : public QImageReader {
public:
    explicit PngReader(const QString& path) : QImageReader(path, "png") { setAutoDetectImageFormat(false); }
};

} // namespace

QSize pngFileSize(const QString& path) {
    return PngReader(path).size();
}

QIcon loadNamedImage(const QString& resourcesDir, const QString& name) {
    if (name.isEmpty() || name.contains(QLatin1Char('/'))) {
        qCWarning(lcImages, "Not an image name: \"%s\"", qPrintable(name));
        return {};
    }
    // NAME.png, NAME@2x.png, NAME-16.png, NAME-16@2x.png
    const QRegularExpression pattern(
        QStringLiteral("^%1(-[0-9]{1,4})?(@[1-9]x)?\\.png$").arg(QRegularExpression::escape(name)));
    const QDir dir(resourcesDir);
    QIcon icon;
    const QStringList files =
        dir.entryList({name + QStringLiteral("*.png")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString& file : files) {
        if (!pattern.match(file).hasMatch())
            continue;
        PngReader reader(dir.filePath(file));
        const QImage image = reader.read();
        if (image.isNull()) {
            qCWarning(lcImages, "Skipping image %s: %s", qPrintable(dir.filePath(file)),
                      qPrintable(reader.errorString()));
            continue;
        }
        // The icon picks variants by pixel size, which also serves a @2x file to a 2x screen.
        icon.addPixmap(QPixmap::fromImage(image));
    }
    if (icon.isNull())
        qCWarning(lcImages, "No image named \"%s\" in %s", qPrintable(name), qPrintable(resourcesDir));
    return icon;
}

QImage loadNamedImageForScale(const QString& resourcesDir, const QString& name, qreal devicePixelRatio) {
    if (name.isEmpty() || name.contains(QLatin1Char('/'))) {
        qCWarning(lcImages, "Not an image name: \"%s\"", qPrintable(name));
        return {};
    }
    const QDir dir(resourcesDir);
    const auto fileFor = [&](int scale) {
        return dir.filePath(scale == 1 ? name + QStringLiteral(".png")
                                       : QStringLiteral("%1@%2x.png").arg(name).arg(scale));
    };
    int best = 0;
    for (int scale = 1; scale <= 9; ++scale) {
        if (!QFileInfo::exists(fileFor(scale)))
            continue;
        // The first at least as fine as the screen wins; until then the finest so far.
        best = scale;
        if (scale >= devicePixelRatio)
            break;
    }
    if (best == 0) {
        qCWarning(lcImages, "No image named \"%s\" in %s", qPrintable(name), qPrintable(resourcesDir));
        return {};
    }
    PngReader reader(fileFor(best));
    QImage image = reader.read();
    if (image.isNull()) {
        qCWarning(lcImages, "Skipping image %s: %s", qPrintable(fileFor(best)),
                  qPrintable(reader.errorString()));
        return {};
    }
    image.setDevicePixelRatio(best);
    return image;
}

} // namespace glimra
