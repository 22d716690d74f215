// A skinned button on screen, at rest and held down through XTest, against references the test
// composes from the artwork files. The German catalogue is complete (the resize panel's tests lay it
// out in German).

#include "GlimraThreePartImageButtonCell.h"
#include "VLI18NBaseView.h"
#include "VLI18NButton.h"
#include "XTestKit.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QXmlStreamReader>

using glimra::test::waitUntil;

namespace {

constexpr Qt::WindowFlags kPlainWindow = Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint;

// The skin's three parts over an opaque background: the six-pixel ends as they are, the one-pixel
// middle stretched between them.
QImage buttonReference(const QString& skin, QSize size, QColor background) {
    const auto part = [&](const char* name) {
        return QImage(QStringLiteral(GLIMRA_HELPER_BUNDLE_DIR "/Contents/Resources/images/%1.png")
                          .arg(skin.arg(QLatin1String(name))));
    };
    QImage reference(size, QImage::Format_RGB32);
    reference.fill(background);
    QPainter p(&reference);
    p.drawImage(0, 0, part("_left"));
    p.drawImage(QRect(6, 0, size.width() - 12, size.height()), part("_middle"));
    p.drawImage(size.width() - 6, 0, part("_right"));
    return reference;
}

// Waits for the screen at r to show reference within a rounding step or two of every channel.
bool screenShows(const QRect& r, const QImage& reference) {
    return waitUntil(
        [&] {
            const QPixmap shown =
                QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
            return bool(
                glimra::test::showsNear(shown.toImage().convertToFormat(QImage::Format_RGB32), reference));
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
