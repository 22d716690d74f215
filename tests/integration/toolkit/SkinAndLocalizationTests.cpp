// A skinned button on screen, at rest and held down through XTest, against references the test
// composes from the artwork files. The German catalogue is complete (the resize panel's tests lay it
// out in German).

#include "GlimraThreePartImageButtonCell.h"
#include "TestSupport.h"
#include "VLI18NBaseView.h"
#include "VLI18NButton.h"
#include "XTestKit.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

using glimra::test::waitUntil;

namespace {

constexpr Qt::WindowFlags kPlainWindow = Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint;

// The skin's three parts side by side over an opaque background, the one-pixel middle stretched to size.
QImage buttonReference(const QString& skin, QSize size, QColor background) {
    QImage whole(13, 24, QImage::Format_ARGB32_Premultiplied);
    whole.fill(background);
    {
        QPainter p(&whole);
        for (const auto& [part, x] : {std::pair{"_left", 0}, {"_middle", 6}, {"_right", 7}})
            p.drawImage(x, 0,
                        QImage(QStringLiteral(GLIMRA_HELPER_BUNDLE_DIR "/Contents/Resources/images/%1.png")
                                   .arg(skin.arg(QLatin1String(part)))));
    }
    QImage reference(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            reference.setPixel(x, y,
                               whole.pixel(x < 6                   ? x
                                           : x >= size.width() - 6 ? x - size.width() + 13
                                                                   : 6,
                                           y));
    return reference;
}

// Waits for the screen at r to show reference within a rounding step or two of every channel.
bool screenShows(const QRect& r, const QImage& reference) {
    return waitUntil(
        [&] {
            const QImage shown = QGuiApplication::primaryScreen()
                                     ->grabWindow(0, r.x(), r.y(), r.width(), r.height())
                                     .toImage()
                                     .convertToFormat(QImage::Format_RGB32);
            for (int y = 0; y < r.height(); ++y)
                for (int x = 0; x < r.width(); ++x) {
                    const QRgb p = shown.pixel(x, y), q = reference.pixel(x, y);
                    if (std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                  std::abs(qBlue(p) - qBlue(q))}) > 3)
                        return false;
                }
            return true;
        },
        3000);
}

TEST(SkinnedButton, ShowsItsSkinAtRestAndItsPressedSkinWhileHeldDown) {
    const QColor background(0x80, 0x80, 0x80);
    QWidget window(nullptr, kPlainWindow);
    window.setAutoFillBackground(true);
    window.setPalette(QPalette(background));
    window.setGeometry(300, 300, 160, 60);
    auto* button = new glimra::NSButton(std::make_unique<GlimraThreePartImageButtonCell>(), &window);
    button->setGeometry(20, 18, 110, 24);
    setCellImagesForGrayButton(*button);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return window.isVisible(); }));

    const QRect onScreen(320, 318, 110, 24);
    EXPECT_TRUE(
        screenShows(onScreen, buttonReference(QStringLiteral("button_gray%1"), onScreen.size(), background)));
    glimra::test::XClient x;
    x.motion(375, 330);
    x.button(1, true);
    ASSERT_TRUE(waitUntil([&] { return button->isDown(); }));
    EXPECT_TRUE(screenShows(
        onScreen, buttonReference(QStringLiteral("button_gray%1_pressed"), onScreen.size(), background)));
    x.button(1, false);
    EXPECT_TRUE(waitUntil([&] { return !button->isDown(); }));
}

TEST(Localization, TheGermanCatalogueTranslatesEveryKey) {
    QFile ts(QStringLiteral(GLIMRA_SOURCE_DIR "/resources/translations/GlimraHelper_de.ts"));
    ASSERT_TRUE(ts.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&ts);
    int messages = 0;
    QString source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"source") {
            source = xml.readElementText();
        } else if (xml.name() == u"translation") {
            ++messages;
            EXPECT_TRUE(xml.attributes().value(QStringLiteral("type")).isEmpty()) << source.toStdString();
            EXPECT_FALSE(xml.readElementText().isEmpty()) << source.toStdString();
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_GE(messages, 20);
}

} // namespace
