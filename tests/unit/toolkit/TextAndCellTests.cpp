// The template language and its arguments, and the nine-part drawing either way up.
// Runs on the offscreen platform.

#include "NSAttributedStringAdditions.h"
#include "NSDrawing.h"

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
