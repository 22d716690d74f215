#include "png/PngEncoder.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <png.h>

#include <QPainter>

#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

using glimra::png::encodePng;
using glimra::png::EncoderOptions;
using glimra::png::Filter;
using glimra::png::PngEncoder;

namespace {

QImage photoLike(int width, int height, unsigned variant) {
    QImage image(width, height, QImage::Format_RGB32);
    std::mt19937 rng(variant);
    std::uniform_int_distribution<int> grain(-9, 9);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgb(std::clamp(x * 255 / std::max(1, width) + grain(rng), 0, 255),
                           std::clamp(y * 255 / std::max(1, height) + grain(rng), 0, 255),
                           std::clamp(128 + grain(rng) * 5, 0, 255));
    }
    return image;
}

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

struct Chunk {
    std::string type;
    QByteArray data;
};

// Splits a PNG file into chunks; nullopt when the signature or any CRC is wrong.
std::optional<std::vector<Chunk>> readChunks(const QByteArray& png) {
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    if (png.size() < 8 || std::memcmp(png.constData(), signature, 8) != 0)
        return std::nullopt;
    auto be32 = [&](qsizetype at) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(png.constData() + at);
        return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
    };
    std::vector<Chunk> chunks;
    for (qsizetype at = 8; at < png.size();) {
        if (at + 12 > png.size())
            return std::nullopt;
        const qsizetype length = be32(at);
        if (at + 12 + length > png.size())
            return std::nullopt;
        if (libdeflate_crc32(0, png.constData() + at + 4, std::size_t(length) + 4) != be32(at + 8 + length))
            return std::nullopt;
        chunks.push_back({std::string(png.constData() + at + 4, 4), png.mid(at + 8, length)});
        at += 12 + length;
    }
    return chunks;
}

// The filtered scanlines, inflated strictly (the Adler-32 is checked); empty on any error.
QByteArray inflateImageData(const std::vector<Chunk>& chunks, std::size_t expectedSize) {
    QByteArray stream;
    for (const Chunk& chunk : chunks)
        if (chunk.type == "IDAT")
            stream += chunk.data;
    QByteArray out(qsizetype(expectedSize), Qt::Uninitialized);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    const auto result = libdeflate_zlib_decompress(d, stream.constData(), std::size_t(stream.size()),
                                                   out.data(), expectedSize, nullptr);
    libdeflate_free_decompressor(d);
    return result == LIBDEFLATE_SUCCESS ? out : QByteArray();
}

struct Decoded {
    QImage image; // ARGB32
    bool clean = false;
};

Decoded decodeWithLibpng(const QByteArray& png) {
    png_image info{};
    info.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&info, png.constData(), std::size_t(png.size())))
        return {};
    info.format = PNG_FORMAT_BGRA; // the byte order of QImage::Format_ARGB32 here
    QImage image(int(info.width), int(info.height), QImage::Format_ARGB32);
    if (!png_image_finish_read(&info, nullptr, image.bits(), png_int_32(image.bytesPerLine()), nullptr)) {
        png_image_free(&info);
        return {};
    }
    Decoded decoded{image, info.warning_or_error == 0};
    png_image_free(&info);
    return decoded;
}

int colourType(const std::vector<Chunk>& chunks) {
    return chunks.front().type == "IHDR" ? std::uint8_t(chunks.front().data[9]) : -1;
}

// Decodes `png` with libpng and with Qt and compares every pixel with `expected`.
void expectExactRoundTrip(const QByteArray& png, const QImage& expected) {
    const auto chunks = readChunks(png);
    ASSERT_TRUE(chunks.has_value()) << "bad signature or chunk CRC";
    ASSERT_GE(chunks->size(), 3u);
    EXPECT_EQ(chunks->front().type, "IHDR");
    EXPECT_EQ(chunks->back().type, "IEND");

    const QImage want = expected.convertToFormat(QImage::Format_ARGB32);
    const Decoded decoded = decodeWithLibpng(png);
    EXPECT_TRUE(decoded.clean) << "libpng reported a warning or error";
    EXPECT_EQ(decoded.image, want) << "libpng decodes other pixels";

    QImage viaQt;
    ASSERT_TRUE(viaQt.loadFromData(png, "PNG"));
    EXPECT_EQ(viaQt.convertToFormat(QImage::Format_ARGB32), want) << "Qt decodes other pixels";
}

QByteArray encode(const QImage& image, EncoderOptions options = {}) {
    PngEncoder encoder(options);
    QByteArray out;
    EXPECT_TRUE(encoder.encode(image, out));
    return out;
}

} // namespace

TEST(PngEncoder, RoundTripsEveryPixelAtOddSizes) {
    const QSize sizes[] = {{1, 1}, {3, 7}, {2881, 3}, {7, 1}, {1, 9}, {33, 31}};
    for (const QSize size : sizes) {
        SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
        for (const QImage& image :
             {photoLike(size.width(), size.height(), 1), textLike(size.width(), size.height(), 2)}) {
            const QByteArray png = encode(image);
            expectExactRoundTrip(png, image);
            EXPECT_EQ(colourType(*readChunks(png)), 2);
        }
    }
}

TEST(PngEncoder, ParallelStripsMakeOneValidStreamOfTheSameScanlines) {
    // A large mixed image: photo on top, text below.
    QImage image = photoLike(1600, 1000, 3);
    {
        QPainter p(&image);
        p.drawImage(0, 500, textLike(1600, 500, 4));
    }
    const std::size_t filteredSize = std::size_t(1600 * 3 + 1) * 1000;
    QByteArray reference;
    for (int threads : {1, 2, 5}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        EncoderOptions options;
        options.threads = threads;
        options.minStripBytes = 1;
        const QByteArray png = encode(image, options);
        expectExactRoundTrip(png, image);
        const QByteArray scanlines = inflateImageData(*readChunks(png), filteredSize);
        ASSERT_FALSE(scanlines.isEmpty()) << "zlib stream or Adler-32 broken";
        if (reference.isEmpty())
            reference = scanlines;
        EXPECT_TRUE(scanlines == reference) << "strips changed the filtered data";
    }
}

TEST(PngEncoder, SpreadsLargeStreamsOverSeveralIdatChunks) {
    const QImage image = photoLike(300, 200, 5);
    EncoderOptions options;
    options.maxChunkBytes = 1000;
    options.threads = 2;
    options.minStripBytes = 1;
    const QByteArray png = encode(image, options);
    const auto chunks = readChunks(png);
    ASSERT_TRUE(chunks.has_value());
    int idats = 0;
    for (const Chunk& chunk : *chunks) {
        if (chunk.type == "IDAT") {
            ++idats;
            EXPECT_LE(chunk.data.size(), 1000);
        }
    }
    EXPECT_GT(idats, 10);
    expectExactRoundTrip(png, image);
}

TEST(PngEncoder, EveryFilterRoundTrips) {
    QImage translucent = photoLike(257, 64, 6).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < translucent.height(); ++y)
        for (int x = 0; x < translucent.width(); ++x)
            translucent.setPixel(
                x, y, (translucent.pixel(x, y) & 0xffffff) | std::uint32_t((x * 7 + y) & 0xff) << 24);
    const QImage opaque = textLike(257, 64, 7);
    for (Filter filter :
         {Filter::None, Filter::Sub, Filter::Up, Filter::Average, Filter::Paeth, Filter::Adaptive}) {
        SCOPED_TRACE(testing::Message() << "filter " << int(filter));
        EncoderOptions options;
        options.filter = filter;
        options.threads = 3;
        options.minStripBytes = 1;
        expectExactRoundTrip(encode(opaque, options), opaque);
        expectExactRoundTrip(encode(translucent, options), translucent);
    }
}

TEST(PngEncoder, KeepsTranslucencyAndConvertsOtherFormats) {
    QImage translucent(5, 4, QImage::Format_ARGB32);
    translucent.fill(qRgba(10, 200, 30, 255));
    translucent.setPixel(2, 1, qRgba(250, 0, 90, 77));
    translucent.setPixel(4, 3, qRgba(0, 0, 0, 0));
    QByteArray png = encode(translucent);
    EXPECT_EQ(colourType(*readChunks(png)), 6);
    expectExactRoundTrip(png, translucent);

    // Opaque alpha formats lose nothing as RGB.
    const QImage opaquePremultiplied =
        photoLike(9, 9, 8).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    png = encode(opaquePremultiplied);
    EXPECT_EQ(colourType(*readChunks(png)), 2);
    expectExactRoundTrip(png, opaquePremultiplied);

    const QImage source = textLike(40, 30, 9);
    for (QImage::Format format : {QImage::Format_RGB888, QImage::Format_Grayscale8, QImage::Format_Indexed8,
                                  QImage::Format_RGBA8888, QImage::Format_RGB16}) {
        SCOPED_TRACE(testing::Message() << "format " << int(format));
        const QImage converted = source.convertToFormat(format);
        expectExactRoundTrip(encode(converted), converted);
    }
}

TEST(PngEncoder, NullImagesFail) {
    PngEncoder encoder;
    QByteArray out("left over");
    EXPECT_FALSE(encoder.encode(QImage(), out));
    EXPECT_TRUE(out.isEmpty());
    EXPECT_FALSE(encoder.encode(QImage(0, 5, QImage::Format_RGB32), out));
    EXPECT_TRUE(encodePng(QImage()).isEmpty());

    // Failing leaves the encoder usable.
    const QImage image = photoLike(20, 10, 10);
    ASSERT_TRUE(encoder.encode(image, out));
    expectExactRoundTrip(out, image);
    expectExactRoundTrip(encodePng(image), image);
}

TEST(PngEncoder, AHeldResultSurvivesLaterEncodes) {
    PngEncoder encoder;
    const QImage first = photoLike(640, 480, 11);
    const QImage second = textLike(640, 480, 12);
    QByteArray held;
    ASSERT_TRUE(encoder.encode(first, held));
    const QByteArray copyOfHeld(held.constData(), held.size());

    QByteArray next;
    for (int i = 0; i < 3;
         ++i) { // the first round must not reuse the held buffer, later rounds may reuse theirs
        ASSERT_TRUE(encoder.encode(i % 2 ? first : second, next));
        expectExactRoundTrip(next, i % 2 ? first : second);
    }
    EXPECT_TRUE(held == copyOfHeld);
    expectExactRoundTrip(held, first);

    encoder.releaseBuffers();
    ASSERT_TRUE(encoder.encode(second, next));
    expectExactRoundTrip(next, second);
}
