#pragma once
// An image of a given size in points, with variants for high-resolution screens, found by name in the
// images folder of the main bundle's resources (see NamedImage.h for the file names).

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSizeF>
#include <QString>

#include <memory>

namespace glimra {

class NSImage {
public:
    // The image called name in imagesDirectory(); nullptr (with a log line) when there is none. An
    // image found once is the same object every time after, for the life of the process.
    static std::shared_ptr<NSImage> imageNamed(const QString& name);
    static std::shared_ptr<NSImage> imageNamed(const QString& name, const QString& directory);
    // <main bundle>/Contents/Resources/images
    static QString imagesDirectory();

    // An unnamed image of image's size divided by its device pixel ratio.
    explicit NSImage(const QImage& image);
    NSImage(QIcon icon, QSizeF size, QString name);

    // The name it was found under; empty for images made otherwise.
    const QString& name() const { return name_; }
    QSizeF size() const { return size_; }
    // The variant for a device pixel ratio, scaled to size() times that ratio when there is no exact one.
    QPixmap pixmapForScale(double devicePixelRatio) const;
    // The 1x variant as a TIFF file; empty (with a log line) when it cannot be encoded.
    QByteArray TIFFRepresentation() const;

private:
    QIcon icon_;
    QSizeF size_;
    QString name_;
};

} // namespace glimra
