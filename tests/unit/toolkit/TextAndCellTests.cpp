// The template language and the other text additions, button titles' colours, and the three-part
// cell: its redisplay rule, its pressed images part by part, its skins, and the part-wise drawing.
// Runs on the offscreen platform.

#include "GlimraThreePartImageButtonCell.h"
#include "NSAttributedStringAdditions.h"
#include "NSButtonAdditions.h"
#include "NSDrawing.h"

#include <QGuiApplication>
#include <QPainter>
#include <gtest/gtest.h>

using namespace glimra;

namespace {

// n template objects: the strings p1, p2, ... each followed by attributes tagging its pair.
QVariantList objects(int n) {
    QVariantList list;
    for (int i = 0; i < n; ++i)
        list << (i % 2 ? QVariant(NSAttributes{{QStringLiteral("tag"), i / 2 + 1}})
                       : QVariant(QStringLiteral("p%1").arg(i / 2 + 1)));
    return list;
}

struct TemplateCase {
    const char* templateString;
    int objectCount;
    const char* expected; // nullptr: the template is refused
};

class TemplateLanguage : public testing::TestWithParam<TemplateCase> {};

TEST_P(TemplateLanguage, ExpandsOrRefusesAsAWhole) {
    const TemplateCase& c = GetParam();
    const auto result =
        attributedStringWithTemplate(QString::fromUtf8(c.templateString), {}, objects(c.objectCount));
    ASSERT_EQ(result.has_value(), c.expected != nullptr);
    if (result) {
        EXPECT_EQ(result->string(), QString::fromUtf8(c.expected));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TemplateLanguage,
                         testing::Values(TemplateCase{"plain text", 2, "plain text"}, TemplateCase{"", 0, ""},
                                         TemplateCase{"$1 and $1", 2, "p1 and p1"},
                                         TemplateCase{"$1", 3, "p1"}, TemplateCase{"$2", 3, nullptr},
                                         TemplateCase{"$12x", 24, "p12x"}, TemplateCase{"$1$2", 4, "p1p2"},
                                         TemplateCase{"$0", 2, nullptr}, TemplateCase{"$-1", 2, nullptr},
                                         TemplateCase{"costs 5$", 2, nullptr}, TemplateCase{"$a", 2, nullptr},
                                         TemplateCase{"$ 1", 2, nullptr}, TemplateCase{"$$1", 2, nullptr},
                                         TemplateCase{"$1", 0, nullptr}));

TEST(TextAdditions, PairAttributesWinInsideTheirPlaceholderOnly) {
    const NSAttributes base{{NSForegroundColorAttributeName, QColor(Qt::blue)}, {QStringLiteral("u"), 1}};
    const QVariantList args{QStringLiteral("ab"),
                            NSAttributes{{NSForegroundColorAttributeName, QColor(Qt::red)}}};
    const auto s = attributedStringWithTemplate(QStringLiteral("$1 tail"), base, args);
    ASSERT_TRUE(s);
    ASSERT_EQ(s->runs().size(), 2u) << "no empty leading run";
    EXPECT_EQ(s->runs()[0].length, 2);
    EXPECT_EQ(s->runs()[0].attributes.value(NSForegroundColorAttributeName).value<QColor>(), QColor(Qt::red));
    EXPECT_EQ(s->runs()[0].attributes.value(QStringLiteral("u")), 1);
    EXPECT_EQ(s->runs()[1].attributes, base);
}

TEST(TextAdditions, ArgumentsAreCutByUserPerceivedCharactersAndLiteralsNever) {
    const QString accented = QStringLiteral("e\u0301e\u0301e");
    const QString flags = QString::fromUtf8("\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7");
    EXPECT_EQ(stringByTruncatingToMaxNumberOfComposedCharacterSequences(accented, 2),
              QStringLiteral("e\u0301e\u0301"));
    EXPECT_EQ(stringByTruncatingToMaxNumberOfComposedCharacterSequences(flags, 1), flags.left(4));
    EXPECT_EQ(stringByTruncatingToMaxNumberOfComposedCharacterSequences(flags, 2), flags);
    EXPECT_EQ(stringByTruncatingToMaxNumberOfComposedCharacterSequences(accented, -1), accented);
    const QVariantList args{accented, NSAttributes{}};
    EXPECT_EQ(attributedStringWithTemplate(QStringLiteral("long literal $1"), {}, 1, args)->string(),
              QStringLiteral("long literal e\u0301"));
    EXPECT_EQ(attributedStringWithTemplate(QStringLiteral("$1"), {}, 0, args)->string(), accented);
}

TEST(TextAdditions, LinkAttributesAndCopies) {
    for (const QString& none : {QString(), QString(""), QStringLiteral("not a url")}) {
        const NSAttributes a = attributesForLinkTo(none);
        EXPECT_FALSE(a.contains(NSLinkAttributeName));
        EXPECT_EQ(a.value(NSForegroundColorAttributeName).value<QColor>(), QColor(Qt::blue));
        EXPECT_EQ(a.value(NSUnderlineStyleAttributeName), NSUnderlineStyleSingle);
        EXPECT_EQ(a.value(NSCursorAttributeName).value<QCursor>().shape(), Qt::PointingHandCursor);
    }
    const NSAttributes a = attributesForLinkTo(QStringLiteral("https://glimra.app/help"), Qt::red, false);
    EXPECT_EQ(a.value(NSLinkAttributeName).toUrl(), QUrl(QStringLiteral("https://glimra.app/help")));
    EXPECT_EQ(a.value(NSForegroundColorAttributeName).value<QColor>(), QColor(Qt::red));
    EXPECT_FALSE(a.contains(NSUnderlineStyleAttributeName));

    const NSAttributedString original(QStringLiteral("x"), {{QStringLiteral("k"), 1}});
    const NSAttributedString red = attributedStringWithColor(original, Qt::red);
    EXPECT_EQ(red.runs()[0].attributes.size(), 2);
    EXPECT_EQ(original.runs()[0].attributes.size(), 1);
    EXPECT_TRUE(a.contains(NSCursorAttributeName));
    EXPECT_TRUE(
        attributedStringWithColor(original, Qt::red).toHtml().contains(QStringLiteral("color:#ff0000")));
}

TEST(TextAdditions, ImagesAreAttachedAsTiffFilesNamedAfterThem) {
    QImage pixels(2, 2, QImage::Format_ARGB32);
    pixels.fill(Qt::red);
    NSAttributedString s(QStringLiteral("see "));
    appendImage(s, std::make_shared<NSImage>(pixels));
    appendImage(s, std::make_shared<NSImage>(QIcon(QPixmap::fromImage(pixels)), QSizeF(2, 2),
                                             QStringLiteral("lock")));
    ASSERT_EQ(s.length(), 6);
    const auto first = s.runs()[1].attributes.value(NSAttachmentAttributeName).value<NSTextAttachment>();
    const auto second = s.runs()[2].attributes.value(NSAttachmentAttributeName).value<NSTextAttachment>();
    EXPECT_EQ(first.filename, QStringLiteral("image.tiff"));
    EXPECT_EQ(first.preferredFilename, QStringLiteral("image.tiff"));
    EXPECT_EQ(second.filename, QStringLiteral("lock.tiff"));
    EXPECT_TRUE(first.contents.startsWith("II*") || first.contents.startsWith("MM"))
        << first.contents.left(4).toHex().data();
    EXPECT_EQ(QImage::fromData(first.contents, "TIFF").pixelColor(1, 1), QColor(Qt::red));
}

TEST(ButtonTitles, ColourComesFromTheFirstCharacterAndASetTitleDropsIt) {
    NSButton button;
    EXPECT_EQ(textColor(button), QGuiApplication::palette().color(QPalette::ButtonText));
    button.setTitle(QStringLiteral("Capture"));
    EXPECT_EQ(textColor(button), std::nullopt);
    setTextColor(button, Qt::white);
    setTextShadowColor(button, Qt::black, {0, -1}, 2);
    EXPECT_EQ(textColor(button), QColor(Qt::white));
    ASSERT_EQ(button.attributedTitle().runs().size(), 1u);
    const auto shadow =
        button.attributedTitle().runs()[0].attributes.value(NSShadowAttributeName).value<NSShadow>();
    EXPECT_EQ(shadow, (NSShadow{Qt::black, {0, -1}, 2}));
    button.setTitle(QStringLiteral("Capture"));
    EXPECT_EQ(textColor(button), std::nullopt);
}

std::shared_ptr<NSImage> solid(QColor color, QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return std::make_shared<NSImage>(image);
}

class PaintCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* e) override {
        paints += e->type() == QEvent::Paint;
        return false;
    }
    int paints = 0;
};

TEST(ThreePartCell, RedrawsOnlyWhenAPartChanges) {
    auto* cell = new GlimraThreePartImageButtonCell;
    NSButton button{std::unique_ptr<NSButtonCell>(cell)};
    button.resize(40, 20);
    button.show();
    PaintCounter counter;
    button.installEventFilter(&counter);
    const auto paintsAfter = [&](auto change) {
        QCoreApplication::processEvents();
        counter.paints = 0;
        change();
        QCoreApplication::processEvents();
        return counter.paints;
    };
    const auto red = solid(Qt::red, {4, 20});
    EXPECT_GT(paintsAfter([&] { cell->setStartCap(red); }), 0);
    EXPECT_EQ(paintsAfter([&] { cell->setStartCap(red); }), 0);
    EXPECT_EQ(paintsAfter([&] { cell->setVertical(false); }), 0);
    EXPECT_GT(paintsAfter([&] { cell->setVertical(true); }), 0);
    EXPECT_GT(paintsAfter([&] { cell->setCenterFillHighlighted(red); }), 0);
}

TEST(ThreePartCell, PressedPartsReplaceTheirOwnPartOnlyWhateverTheEnabledState) {
    auto* cell = new GlimraThreePartImageButtonCell;
    NSButton button{std::unique_ptr<NSButtonCell>(cell)};
    button.resize(30, 10);
    cell->setStartCap(solid(Qt::red, {4, 10}));
    cell->setCenterFill(solid(Qt::green, {1, 10}));
    cell->setEndCap(solid(Qt::blue, {4, 10}));
    cell->setStartCapHighlighted(solid(Qt::yellow, {4, 10}));
    cell->setEndCapHighlighted(solid(Qt::cyan, {4, 10}));
    const auto colours = [&] {
        const QImage image = button.grab().toImage();
        return std::vector<QColor>{image.pixelColor(1, 5), image.pixelColor(15, 5), image.pixelColor(28, 5)};
    };
    EXPECT_EQ(colours(), (std::vector<QColor>{Qt::red, Qt::green, Qt::blue}));
    button.setDown(true);
    EXPECT_EQ(colours(), (std::vector<QColor>{Qt::yellow, Qt::green, Qt::cyan}));
    button.setEnabled(false); // which lets the button go
    button.setDown(true);
    EXPECT_EQ(colours(), (std::vector<QColor>{Qt::yellow, Qt::green, Qt::cyan}));
}

TEST(ThreePartCell, SkinsWithoutPressedImagesKeepTheEarlierOnes) {
    auto* cell = new GlimraThreePartImageButtonCell;
    NSButton button{std::unique_ptr<NSButtonCell>(cell)};
    setCellImagesForGrayButton(button);
    setCellImagesForDisabledButton(button);
    ASSERT_TRUE(cell->startCap() && cell->startCapHighlighted() && cell->centerFillHighlighted());
    EXPECT_EQ(cell->startCap()->name(), QStringLiteral("button_disabled_left"));
    EXPECT_EQ(cell->startCapHighlighted()->name(), QStringLiteral("button_gray_left_pressed"));
    EXPECT_EQ(cell->endCapHighlighted()->name(), QStringLiteral("button_gray_right_pressed"));
    EXPECT_EQ(cell->startCap()->size(), QSizeF(6, 24));

    // Skins whose artwork is absent leave nil parts; a plain button is left alone.
    setCellImagesForPinkButton(button);
    EXPECT_EQ(cell->startCap(), nullptr);
    NSButton plain;
    setCellImagesForBlueButton(plain);
    EXPECT_EQ(dynamic_cast<GlimraThreePartImageButtonCell*>(plain.cell()), nullptr);
}

// Nine parts of distinct colours, corners 5x4 (top-left) and 6x3 (bottom-right), drawn into a 40x30
// image by a y-down and by a y-up painter: the picture is the same.
TEST(PartDrawing, NinePartsKeepCornersAndStretchTheRestTheRightWayUp) {
    const QColor colours[9] = {Qt::red,    Qt::green, Qt::blue,  Qt::cyan,   Qt::magenta,
                               Qt::yellow, Qt::gray,  Qt::white, Qt::darkRed};
    const QSize sizes[9] = {{5, 4}, {1, 4}, {6, 4}, {5, 1}, {1, 1}, {6, 1}, {5, 3}, {1, 3}, {6, 3}};
    std::vector<std::shared_ptr<NSImage>> parts;
    for (int i = 0; i < 9; ++i)
        parts.push_back(solid(colours[i], sizes[i]));
    for (bool flipped : {true, false}) {
        QImage image(40, 30, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            if (!flipped) {
                p.translate(0, 30);
                p.scale(1, -1);
            }
            NSDrawNinePartImage(p, QRectF(0, 0, 40, 30), parts[0].get(), parts[1].get(), parts[2].get(),
                                parts[3].get(), parts[4].get(), parts[5].get(), parts[6].get(),
                                parts[7].get(), parts[8].get(), QPainter::CompositionMode_SourceOver, 1.0,
                                flipped);
        }
        const QPoint samples[9] = {{4, 3},   {20, 0}, {34, 3},  {0, 15}, {20, 15},
                                   {39, 15}, {0, 27}, {20, 29}, {34, 27}};
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(image.pixelColor(samples[i]), colours[i]) << "part " << i << " flipped " << flipped;
        EXPECT_EQ(image.pixelColor(5, 3), colours[1]) << "the corner ends at its natural width";
        EXPECT_EQ(image.pixelColor(4, 4), colours[3]) << "the corner ends at its natural height";
    }
}

} // namespace
