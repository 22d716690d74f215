// A skinned button on screen, at rest and held down through XTest, against references the test
// composes from the artwork files; and a labelled button row re-fitted after the German catalogue
// is loaded, keeping its margins. The German catalogue is complete.

#include "Bundle.h"
#include "GlimraThreePartImageButtonCell.h"
#include "NSView+VellmoraAdditions.h"
#include "TestSupport.h"
#include "ToolkitOnScreen.h"
#include "VLI18NBaseView.h"
#include "VLI18NButton.h"
#include "VLI18NContentView.h"
#include "VLI18NTextField.h"
#include "XTestKit.h"

#include <QFile>
#include <QPainter>
#include <QTranslator>
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

TEST(Localization, ButtonsAndLabelsRefitToGermanKeepingTheirMargins) {
    const glimra::Bundle helper(QStringLiteral(GLIMRA_HELPER_BUNDLE_DIR));
    ASSERT_TRUE(
        helper.loadLocalizations(*QCoreApplication::instance(), QLocale(QLocale::German, QLocale::Germany)));

    // Laid out for English: a label above a row of two buttons.
    QWidget window(nullptr, kPlainWindow);
    window.setGeometry(200, 200, 300, 84);
    auto* content = new VLI18NContentView(&window);
    content->setGeometry(window.rect());
    const auto makeButton = [&](QRect geometry, void (*skin)(glimra::NSButton&)) {
        auto* button = new VLI18NButton(std::make_unique<GlimraThreePartImageButtonCell>(), content);
        button->setGeometry(geometry);
        skin(*button);
        button->awakeFromNib();
        return button;
    };
    auto* label = new VLI18NTextField(content);
    label->setGeometry(16, 12, 170, 20);
    auto* cancel = makeButton({116, 48, 76, 24}, setCellImagesForGrayButton);
    auto* capture = makeButton({204, 48, 76, 24}, setCellImagesForBlueButton);
    content->awakeFromNib();
    glimra::WidgetView contentView(content);
    const VLI18NPadding before = paddingFromSubviews(contentView);

    const glimra::Bundle& bundle = glimra::Bundle::mainBundle();
    label->setText(bundle.localizedString("Capture Region with Timer"));
    cancel->setTitle(bundle.localizedString("Cancel"));
    capture->setTitle(bundle.localizedString("Capture"));
    ASSERT_EQ(cancel->title(), QStringLiteral("Abbrechen"));
    window.show();
    glimra::WidgetWindow widgetWindow(&window, content);
    resizeForI18N(widgetWindow);

    // The German texts are wider: label and buttons grow to them, the window with its content,
    // margins and top edge kept (the unit tests take the rules one by one).
    EXPECT_EQ(label->width(), label->sizeHint().width());
    EXPECT_GT(label->width(), 170);
    EXPECT_GE(cancel->width(), std::max(76, cancel->sizeHint().width()));
    const VLI18NPadding after = paddingFromSubviews(contentView);
    EXPECT_EQ(std::tuple(after.top, after.bottom, after.left, after.right),
              std::tuple(before.top, before.bottom, before.left, before.right));
    EXPECT_EQ(window.geometry().topLeft(), QPoint(200, 200));
    qDeleteAll(QCoreApplication::instance()->findChildren<QTranslator*>());
}

} // namespace
