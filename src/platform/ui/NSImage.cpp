#include "NSImage.h"

#include "Bundle.h"
#include "Log.h"
#include "NamedImage.h"

#include <QBuffer>
#include <QDir>
#include <QImageWriter>

#include <cmath>
#include <map>
#include <mutex>
#include <utility>

namespace glimra {

std::shared_ptr<NSImage> NSImage::imageNamed(const QString& name) {
    return imageNamed(name, imagesDirectory());
}

std::shared_ptr<NSImage> NSImage::imageNamed(const QString& name, const QString& directory) {
    // Every panel and button asks for the same few pieces of artwork, so each is loaded once and
    // shared. Besides the loading, this keeps Qt's pixmap cache from growing: it keeps what an icon
    // draws under the identity of the icon's pixmaps, so artwork loaded again for each new panel would
    // leave copies there that nobody asks for again until the cache is full.
    static std::mutex mutex;
    static std::map<std::pair<QString, QString>, std::shared_ptr<NSImage>> named;
    const std::lock_guard lock(mutex);
    auto& image = named[{directory, name}];
    if (image)
        return image;
    QIcon icon = loadNamedImage(directory, name);
    if (icon.isNull()) {
        named.erase({directory, name});
        return nullptr;
    }
    // The size in points is the 1x file's; without one, the smallest variant at 2x.
    QSizeF size = pngFileSize(QDir(directory).filePath(name + QStringLiteral(".png")));
    if (size.isEmpty()) {
        const QList<QSize> sizes = icon.availableSizes();
        size = QSizeF(sizes.value(0)) / 2.0;
    }
    image = std::make_shared<NSImage>(std::move(icon), size, name);
    return image;
}

QString NSImage::imagesDirectory() {
    return Bundle::mainBundle().resourcePath() + QStringLiteral("/images");
}

NSImage::NSImage(const QImage& image)
    : icon_(QPixmap::fromImage(image)), size_(QSizeF(image.size()) / image.devicePixelRatio()) {}

NSImage::NSImage(QIcon icon, QSizeF size, QString name)
    : icon_(std::move(icon)), size_(size), name_(std::move(name)) {}

QPixmap NSImage::pixmapForScale(double devicePixelRatio) const {
    const QSize pixels(int(std::lround(size_.width() * devicePixelRatio)),
                       int(std::lround(size_.height() * devicePixelRatio)));
    QPixmap pixmap = icon_.pixmap(pixels, 1.0);
    // QIcon never scales up: a 1x-only image on a 2x screen is stretched here.
    if (!pixmap.isNull() && pixmap.size() != pixels)
        pixmap = pixmap.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QByteArray NSImage::TIFFRepresentation() const {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "tiff");
    if (!writer.write(pixmapForScale(1.0).toImage())) {
        NSLog("Could not encode the image \"%@\" as TIFF: %@", name_, writer.errorString());
        return {};
    }
    return bytes;
}

} // namespace glimra
