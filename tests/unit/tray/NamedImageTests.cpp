#include "ui/NamedImage.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kImages = QStringLiteral(GLIMRA_TRAY_IMAGES_DIR);

QImage solid(int size, QColor color) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

TEST(NamedImage, LoadsEveryVariantOfTheArtworkAndServesTheRightOneForEachScale) {
    const QIcon icon = glimra::loadNamedImage(kImages, QStringLiteral("HelperMenu"));
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    for (int side : {16, 22, 24, 32, 44, 48})
        EXPECT_TRUE(sizes.contains(QSize(side, side))) << side;
    // "HelperMenuPressed*" shares the prefix but is another image.
    EXPECT_EQ(sizes.size(), 6);

    const QImage at2x = icon.pixmap(QSize(22, 22), 2.0).toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(at2x.size(), QSize(44, 44));
    EXPECT_EQ(at2x, QImage(kImages + "/HelperMenu@2x.png").convertToFormat(QImage::Format_ARGB32));
}

TEST(NamedImage, MissingOrBrokenImagesGiveANullIconOrAreSkipped) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_TRUE(glimra::loadNamedImage(dir.path(), QStringLiteral("HelperMenu")).isNull());
    EXPECT_TRUE(glimra::loadNamedImage(kImages, QStringLiteral("../images/HelperMenu")).isNull());

    QFile broken(dir.filePath("Broken.png"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("\x89PNG\r\n\x1a\n not really");
    broken.close();
    EXPECT_TRUE(glimra::loadNamedImage(dir.path(), QStringLiteral("Broken")).isNull());

    // A broken 1x next to a good 2x: the 2x still makes an icon.
    ASSERT_TRUE(solid(44, Qt::red).save(dir.filePath(QStringLiteral("Broken@2x.png"))));
    const QIcon icon = glimra::loadNamedImage(dir.path(), QStringLiteral("Broken"));
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.availableSizes(), QList<QSize>{QSize(44, 44)});

    // Names that only look like variants are other images.
    ASSERT_TRUE(solid(22, Qt::blue).save(dir.filePath(QStringLiteral("Broken-extra.png"))));
    ASSERT_TRUE(solid(22, Qt::blue).save(dir.filePath(QStringLiteral("Broken.png.png"))));
    EXPECT_EQ(glimra::loadNamedImage(dir.path(), QStringLiteral("Broken")).availableSizes().size(), 1);
}

} // namespace
