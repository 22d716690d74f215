#include "png/PngEncoder.h"
#include "XTestKit.h"

#include <gtest/gtest.h>
#include <png.h>

#include <QPainter>
#include <QtEndian>

#include <random>
#include <vector>

using glimra::png::encodePng;
using glimra::png::EncoderOptions;
using glimra::png::Filter;
using glimra::png::PngEncoder;
using glimra::test::testPattern;

namespace {

// Dark glyph-like marks with grey edges on white, in lines, under a coloured bar.
QImage textLike(int width, int height, unsigned variant) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    std::mt19937 rng(variant);
    QPainter p(&image);
    p.fillRect(0, 0, width, std::min(height, 12), QColor(40, 90, 200));
    for (int y = 16; y + 9 < height; y += 14) {
        for (int x = 4; x + 6 < width; x += 7) {
            if (rng() % 6 == 0)
                continue; // a space
            for (int row = 0; row < 9; ++row)
                for (int col = 0; col < 5; ++col)
                    if (rng() % 3 == 0)
                        image.setPixel(x + col, y + row,
                                       (rng() % 2) ? qRgb(20, 20, 20) : qRgb(150, 150, 160));
        }
    }
    return image;
}

// The lengths of the IDAT chunks, walking the chunk list (libpng checks the CRCs).
std::vector<std::size_t> idatLengths(const QByteArray& png) {
    std::vector<std::size_t> lengths;
    for (qsizetype at = 8; at + 8 <= png.size();) {
        const std::size_t length = qFromBigEndian<quint32>(png.constData() + at);
        if (png.mid(at + 4, 4) == "IDAT")
            lengths.push_back(length);
        at += 12 + qsizetype(length);
    }
    return lengths;
}

int colourType(const QByteArray& png) {
    return std::uint8_t(png[25]); // in IHDR, the first chunk
}

// libpng decodes `png` strictly (signature, CRCs, Adler-32) to exactly `expected`'s pixels.
void expectExactRoundTrip(const QByteArray& png, const QImage& expected) {
    png_image info{};
    info.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&info, png.constData(), std::size_t(png.size())));
    info.format = PNG_FORMAT_BGRA; // the byte order of QImage::Format_ARGB32 here
    QImage decoded(int(info.width), int(info.height), QImage::Format_ARGB32);
    EXPECT_TRUE(
        png_image_finish_read(&info, nullptr, decoded.bits(), png_int_32(decoded.bytesPerLine()), nullptr));
    EXPECT_EQ(info.warning_or_error, 0u) << "libpng reported a warning or error";
    png_image_free(&info);
    EXPECT_EQ(decoded, expected.convertToFormat(QImage::Format_ARGB32)) << "libpng decodes other pixels";
    QImage viaQt;
    ASSERT_TRUE(viaQt.loadFromData(png, "PNG"));
    EXPECT_EQ(viaQt.convertToFormat(QImage::Format_ARGB32), decoded) << "Qt decodes other pixels";
}

QImage withAlphaRamp(const QImage& opaque) {
    QImage image = opaque.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = (line[x] & 0xffffff) | std::uint32_t((x * 7 + y * 3) & 0xff) << 24;
    }
    return image;
}

QByteArray encode(const QImage& image, EncoderOptions options = {}) {
    PngEncoder encoder(options);
    QByteArray out;
    EXPECT_TRUE(encoder.encode(image, out));
    return out;
}

} // namespace

TEST(PngEncoder, RoundTripsEveryPixelAtOddSizesWithEveryFilter) {
    for (const QSize size : {QSize(1, 1), QSize(3, 7), QSize(2881, 3), QSize(1, 9), QSize(33, 31)}) {
        SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
        for (const QImage& image : {testPattern(size, 1), textLike(size.width(), size.height(), 2)}) {
            const QByteArray png = encode(image);
            expectExactRoundTrip(png, image);
            EXPECT_EQ(colourType(png), 2);
            const QImage translucent = withAlphaRamp(image);
            const QByteArray rgba = encode(translucent);
            expectExactRoundTrip(rgba, translucent);
            EXPECT_EQ(colourType(rgba), 6);
        }
    }
    const QImage translucent = withAlphaRamp(testPattern({257, 64}, 6));
    for (Filter filter :
         {Filter::None, Filter::Sub, Filter::Up, Filter::Average, Filter::Paeth, Filter::Adaptive}) {
        SCOPED_TRACE(testing::Message() << "filter " << int(filter));
        EncoderOptions options;
        options.filter = filter;
        options.threads = 3;
        options.minStripBytes = 1;
        const QByteArray png = encode(translucent, options);
        EXPECT_EQ(colourType(png), 6);
        expectExactRoundTrip(png, translucent);
    }
}

// Strips deflated in parallel and joined make one zlib stream whose Adler-32 holds (libpng checks it),
// spread over IDAT chunks of at most the chunk size.
TEST(PngEncoder, ParallelStripsMakeOneValidStreamInChunksOfAtMostTheLimit) {
    QImage image = testPattern({1600, 1000}, 3);
    {
        QPainter p(&image);
        p.drawImage(0, 500, textLike(1600, 500, 4));
    }
    for (int threads : {1, 2, 5}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        EncoderOptions options;
        options.threads = threads;
        options.minStripBytes = 1;
        options.maxChunkBytes = threads == 5 ? 1000 : options.maxChunkBytes;
        const QByteArray png = encode(image, options);
        expectExactRoundTrip(png, image);
        const auto idats = idatLengths(png);
        ASSERT_FALSE(idats.empty());
        EXPECT_LE(*std::max_element(idats.begin(), idats.end()), options.maxChunkBytes);
        EXPECT_GT(idats.size(), threads == 5 ? 100u : 0u);
    }
}

TEST(PngEncoder, KeepsOpaqueAlphaFormatsAsRgbAndConvertsOthers) {
    const QImage opaquePremultiplied =
        testPattern({9, 9}, 8).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QByteArray png = encode(opaquePremultiplied);
    EXPECT_EQ(colourType(png), 2);
    expectExactRoundTrip(png, opaquePremultiplied);
    const QImage grey = textLike(40, 30, 9).convertToFormat(QImage::Format_Grayscale8);
    expectExactRoundTrip(encode(grey), grey);
}

// Null images fail and leave the encoder usable; a result the caller holds survives later encodes.
TEST(PngEncoder, FailuresAndHeldResultsLeaveTheEncoderUsable) {
    PngEncoder encoder;
    QByteArray out("left over");
    EXPECT_FALSE(encoder.encode(QImage(), out));
    EXPECT_TRUE(out.isEmpty());
    EXPECT_FALSE(encoder.encode(QImage(0, 5, QImage::Format_RGB32), out));
    EXPECT_TRUE(encodePng(QImage()).isEmpty());

    const QImage first = testPattern({640, 480}, 11);
    const QImage second = textLike(640, 480, 12);
    QByteArray held;
    ASSERT_TRUE(encoder.encode(first, held));
    const QByteArray copyOfHeld(held.constData(), held.size());
    // The first round must not reuse the held buffer, later rounds may reuse theirs.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(encoder.encode(i % 2 ? first : second, out));
        expectExactRoundTrip(out, i % 2 ? first : second);
    }
    EXPECT_TRUE(held == copyOfHeld);
    encoder.releaseBuffers();
    ASSERT_TRUE(encoder.encode(second, out));
    expectExactRoundTrip(out, second);
}
