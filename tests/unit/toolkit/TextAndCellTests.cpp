// The template language and its arguments, the nine-part drawing either way up, and the blur of text
// shadows.
// Runs on the offscreen platform.

#include "NSAttributedStringAdditions.h"
#include "NSDrawing.h"
#include "ShadowBlur.h"

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

TEST(TextAdditions, ArgumentsAreCutByUserPerceivedCharactersAndLiteralsNever) {
    const QString accented = QStringLiteral("e\u0301e\u0301e");
    const QString flags = QString::fromUtf8("\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7");
    EXPECT_EQ(stringByTruncatingToMaxNumberOfComposedCharacterSequences(accented, 2), "e\u0301e\u0301");
    EXPECT_EQ(stringByTruncatingToMaxNumberOfComposedCharacterSequences(flags, 1), flags.left(4));
    EXPECT_EQ(stringByTruncatingToMaxNumberOfComposedCharacterSequences(flags, 2), flags);
    EXPECT_EQ(stringByTruncatingToMaxNumberOfComposedCharacterSequences(accented, -1), accented);
    const QVariantList args{accented, NSAttributes{}};
    EXPECT_EQ(attributedStringWithTemplate(QStringLiteral("long literal $1"), {}, 1, args)->string(),
              QStringLiteral("long literal e\u0301"));
    EXPECT_EQ(attributedStringWithTemplate(QStringLiteral("$1"), {}, 0, args)->string(), accented);
}

// Nine parts of distinct colours, corners 5x4 (top-left) and 6x3 (bottom-right), drawn into a 40x30
// image by a y-down and by a y-up painter: the picture is the same.
TEST(PartDrawing, NinePartsKeepCornersAndStretchTheRestTheRightWayUp) {
    const QColor colours[9] = {Qt::red,    Qt::green, Qt::blue,  Qt::cyan,   Qt::magenta,
                               Qt::yellow, Qt::gray,  Qt::white, Qt::darkRed};
    const QSize sizes[9] = {{5, 4}, {1, 4}, {6, 4}, {5, 1}, {1, 1}, {6, 1}, {5, 3}, {1, 3}, {6, 3}};
    std::vector<std::shared_ptr<NSImage>> parts;
    for (int i = 0; i < 9; ++i) {
        QImage part(sizes[i], QImage::Format_ARGB32_Premultiplied);
        part.fill(colours[i]);
        parts.push_back(std::make_shared<NSImage>(part));
    }
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

class ShadowBlur : public testing::TestWithParam<double> {};

// An opaque blue square, blurred: the same every way round, still blue, its edge spread outwards and
// faded to nothing within the radius. A radius of a pixel or less leaves it as it was.
TEST_P(ShadowBlur, SpreadsEveryWayAlikeAndFadesOutWithinTheRadius) {
    const double radius = GetParam();
    const int block = 16, margin = int(2 * radius) + 4, size = block + 2 * margin;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(margin, margin, block, block, Qt::blue);
    const QImage original = image;
    blurShadowImage(image, radius);
    if (radius <= 1) {
        EXPECT_EQ(image, original);
        return;
    }
    // The passes run one way and then back, so the two sides may differ by the odd level.
    const auto largestDifference = [&](const QImage& other) {
        int largest = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                largest = std::max(largest, std::abs(qAlpha(image.pixel(x, y)) - qAlpha(other.pixel(x, y))));
        return largest;
    };
    EXPECT_LE(largestDifference(image.mirrored(true, false)), 4);
    EXPECT_LE(largestDifference(image.mirrored(false, true)), 4);
    EXPECT_LE(largestDifference(image.transformed(QTransform(0, 1, 1, 0, 0, 0))), 4);
    const int middle = size / 2;
    EXPECT_GT(qAlpha(image.pixel(margin - 1, middle)), 0);
    EXPECT_LT(qAlpha(image.pixel(margin, middle)), 255);
    EXPECT_EQ(qAlpha(image.pixel(margin - int(std::ceil(radius)) - 1, middle)), 0);
    int notBlue = 0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const QRgb p = image.pixel(x, y);
            notBlue += qRed(p) != 0 || qGreen(p) != 0 || qBlue(p) != qAlpha(p);
        }
    EXPECT_EQ(notBlue, 0);
}

INSTANTIATE_TEST_SUITE_P(Radii, ShadowBlur, testing::Values(0.0, 1.0, 2.0, 4.0, 8.0));
