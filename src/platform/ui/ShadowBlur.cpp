#include "ShadowBlur.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace glimra {

namespace {

constexpr int kChannels = 4;

// Exponential smoothing of one line of pixels, forwards and back again: z moves the fraction `take`
// of the way to each pixel it passes. Starting from clear makes the outside of the image clear. The
// pixels keep whole levels, as an 8-bit image does between passes, so light shadows fade out rather
// than leave a faint haze.
void smoothLine(float* first, int count, std::ptrdiff_t step, float take) {
    float z[kChannels] = {0, 0, 0, 0};
    const auto visit = [&](float* pixel) {
        for (int c = 0; c < kChannels; ++c) {
            z[c] += take * (pixel[c] - z[c]);
            pixel[c] = std::floor(z[c]);
        }
    };
    for (int i = 0; i < count; ++i)
        visit(first + i * step);
    for (int i = count - 2; i >= 0; --i)
        visit(first + i * step);
}

} // namespace

void blurShadowImage(QImage& image, double radius) {
    // Two rounds there and back along each axis come close to a Gaussian; each round covers half
    // the radius. The step is chosen so that a full pixel has faded below 2/255 at the radius, in
    // steps of 1/4096: a radius too small to blur a whole level (about a pixel) leaves the image as
    // it was.
    constexpr int kRounds = 2;
    const double perRound = radius / kRounds;
    if (!(perRound > 1e-5) || image.isNull())
        return;
    const float take = float(std::round(4096 * (1.0 - std::pow(2.0 / 255.0, 1.0 / perRound))) / 4096);
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image = std::move(image).convertToFormat(QImage::Format_ARGB32_Premultiplied);

    const int w = image.width();
    const int h = image.height();
    std::vector<float> pixels(std::size_t(w) * std::size_t(h) * kChannels);
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        float* out = pixels.data() + std::size_t(y) * w * kChannels;
        for (int x = 0; x < w; ++x, out += kChannels) {
            out[0] = float(qRed(line[x]));
            out[1] = float(qGreen(line[x]));
            out[2] = float(qBlue(line[x]));
            out[3] = float(qAlpha(line[x]));
        }
    }
    for (int round = 0; round < kRounds; ++round)
        for (int y = 0; y < h; ++y)
            smoothLine(pixels.data() + std::size_t(y) * w * kChannels, w, kChannels, take);
    for (int round = 0; round < kRounds; ++round)
        for (int x = 0; x < w; ++x)
            smoothLine(pixels.data() + std::size_t(x) * kChannels, h, std::ptrdiff_t(w) * kChannels, take);

    const auto channel = [](float v) { return int(std::clamp(std::lround(v), 0L, 255L)); };
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const float* in = pixels.data() + std::size_t(y) * w * kChannels;
        for (int x = 0; x < w; ++x, in += kChannels) {
            // Premultiplied: no colour channel may exceed the alpha.
            const int a = channel(in[3]);
            line[x] = qRgba(std::min(channel(in[0]), a), std::min(channel(in[1]), a),
                            std::min(channel(in[2]), a), a);
        }
    }
}

} // namespace glimra
