// A skinned button on screen, at rest and held down through XTest, against references the test
// composes from the artwork files. The German catalogue is complete (the resize panel's tests lay it
// out in German).

#include "GlimraThreePartImageButtonCell.h"
#include "TestSupport.h"
#include "ToolkitOnScreen.h"
#include "VLI18NBaseView.h"
#include "VLI18NButton.h"
#include "XTestKit.h"

#include <QFile>
#include <QPainter>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

using glimra::test::waitUntil;

namespace {

constexpr Qt::WindowFlags kPlainWindow = Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint;

// The three parts of skin side by side, over an opaque background, stretched to size.
QImage buttonReference(const QString& skin, const QString& suffix, QSize size, QColor background) {
    QImage whole(13, 24, QImage::Format_ARGB32_Premultiplied);
    whole.fill(background);
    {
        QPainter p(&whole);
        for (const auto& [part, x] : {std::pair{"_left", 0}, {"_middle", 6}, {"_right", 7}})
            p.drawImage(x, 0, toolkittest::artwork(skin + QLatin1String(part) + suffix));
    }
    QImage reference(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            reference.setPixel(x, y, whole.pixel(toolkittest::partPixel(x, size.width(), 6, 6), y));
    return reference;
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
    const auto differenceFrom = [&](const QString& suffix) {
        return toolkittest::screenDifference(
            onScreen, buttonReference(QStringLiteral("button_gray"), suffix, onScreen.size(), background));
    };
    EXPECT_LE(differenceFrom({}), 3);
    glimra::test::XClient x;
    x.motion(375, 330);
    x.button(1, true);
    ASSERT_TRUE(waitUntil([&] { return button->isDown(); }));
    EXPECT_LE(differenceFrom(QStringLiteral("_pressed")), 3);
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
