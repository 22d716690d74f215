#pragma once
// Whether a screen shows the capture's overlay, from a few of its pixels: the overlay shows the
// desktop as it was, under a grey of 0.33 at 65 % (the renderer's dimming). Points are picked over
// the screen where the dimming changes the desktop clearly, and the overlay counts as shown once three
// quarters of them show the dimmed desktop (the crosshair's lines and badge may cover a few). Pixels
// are 0xRRGGBB.
// Without Qt, for the plain xcb benchmarks too.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

namespace benchmain {

struct Point {
    int x = 0, y = 0;
};

// What the overlay makes of a desktop pixel: the dimming drawn over it.
inline uint32_t dimmedPixel(uint32_t rgb) {
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const double channel = (rgb >> shift) & 0xff;
        out |= uint32_t(0.35 * channel + 0.65 * 0.33 * 255 + 0.5) << shift;
    }
    return out;
}

// The largest difference of one channel.
inline int pixelDistance(uint32_t a, uint32_t b) {
    int most = 0;
    for (int shift = 0; shift <= 16; shift += 8)
        most = std::max(most, std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)));
    return most;
}

inline bool nearPixel(uint32_t a, uint32_t b) {
    return pixelDistance(a, b) <= 12;
}

// Points of a grid over the rectangle, inside its edges.
inline std::vector<Point> gridPoints(int left, int top, int width, int height, int columns = 12,
                                     int rows = 8) {
    std::vector<Point> points;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            points.push_back(
                {left + (2 * c + 1) * width / (2 * columns), top + (2 * r + 1) * height / (2 * rows)});
    return points;
}

class DimmingProbe {
public:
    // What test the points' pixels now pass, given the desktop's pixel there before.
    using Look = std::function<bool(uint32_t before, uint32_t now)>;
    static bool dimmed(uint32_t before, uint32_t now) { return nearPixel(now, dimmedPixel(before)); }
    static bool unchanged(uint32_t before, uint32_t now) { return nearPixel(now, before); }

    DimmingProbe() = default;
    // Of the candidate points, whose pixels on the desktop are `pixels`, 16 spread over them where the
    // dimming shows clearly (else the 16 where it shows most).
    DimmingProbe(const std::vector<Point>& candidates, const std::vector<uint32_t>& pixels) {
        std::vector<std::size_t> clear, order;
        for (std::size_t i = 0; i < candidates.size() && i < pixels.size(); ++i) {
            order.push_back(i);
            if (pixelDistance(pixels[i], dimmedPixel(pixels[i])) >= 24)
                clear.push_back(i);
        }
        if (clear.size() < 16) {
            const auto change = [&](std::size_t i) {
                return pixelDistance(pixels[i], dimmedPixel(pixels[i]));
            };
            std::stable_sort(order.begin(), order.end(),
                             [&](std::size_t a, std::size_t b) { return change(a) > change(b); });
            clear.assign(order.begin(), order.begin() + std::min<std::ptrdiff_t>(order.size(), 16));
        }
        for (std::size_t k = 0; k < std::min<std::size_t>(clear.size(), 16); ++k) {
            const std::size_t i = clear[k * clear.size() / std::min<std::size_t>(clear.size(), 16)];
            points_.push_back(candidates[i]);
            before_.push_back(pixels[i]);
        }
    }
    const std::vector<Point>& points() const { return points_; }
    // Whether three quarters of the points pass look, their pixels now being `now` (in points() order).
    bool holds(const Look& look, const std::vector<uint32_t>& now) const {
        std::size_t passing = 0;
        for (std::size_t i = 0; i < points_.size() && i < now.size(); ++i)
            passing += look(before_[i], now[i]);
        return !points_.empty() && passing * 4 >= points_.size() * 3;
    }

private:
    std::vector<Point> points_;
    std::vector<uint32_t> before_;
};

} // namespace benchmain
