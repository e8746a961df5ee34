#include "support/video/PatternGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace velmarin::video::testing {
namespace {

std::uint32_t hash(int x, int y, int z) {
    std::uint32_t h = std::uint32_t(x) * 0x8da6b343u ^ std::uint32_t(y) * 0xd8163841u ^
                      std::uint32_t(z) * 0xcb1ab31fu;
    h ^= h >> 15;
    h *= 0x2c1b3c6du;
    h ^= h >> 12;
    h *= 0x297a2d39u;
    h ^= h >> 15;
    return h;
}

// Text page: 9-pixel lines of 6-pixel cells, each cell a 5x7 glyph drawn
// from a hash, with spaces and ragged line ends like real text.
std::uint8_t textLuma(int x, int y) {
    if (y < 24)
        return 60; // title bar
    if (x < 48)
        return static_cast<std::uint8_t>(200 + (y / 32) % 2 * 20); // side panel
    const int line = y / 12;
    const int column = (x - 48) / 6;
    if (column > 40 + static_cast<int>(hash(line, 7, 0) % 200) || line % 9 == 8)
        return 235;
    const std::uint32_t glyph = hash(line, column, 1);
    if (glyph % 6 == 0)
        return 235; // space
    const int gx = (x - 48) % 6;
    const int gy = y % 12 - 2;
    if (gx >= 5 || gy < 0 || gy >= 7)
        return 235;
    const bool on = (glyph >> (gy * 4 + gx % 4)) & 1;
    return on ? 30 : 235;
}

std::uint8_t triangle(int value) {
    const int v = ((value % 512) + 512) % 512;
    return static_cast<std::uint8_t>(v < 256 ? v : 511 - v);
}

struct Sample {
    std::uint8_t y, u, v;
};

Sample lumaAt(Pattern pattern, int x, int y, int index) {
    switch (pattern) {
    case Pattern::staticText:
        return {textLuma(x, y), 128, 128};
    case Pattern::scrollingText:
        return {y < 24 ? textLuma(x, y) : textLuma(x, y + 3 * index), 128, 128};
    case Pattern::movingGradient:
        return {static_cast<std::uint8_t>(16 + triangle(x + y / 2 + 4 * index) * 219 / 255),
                triangle(x / 2 + 2 * index), triangle(y + 3 * index)};
    case Pattern::fullMotion: {
        const int base = 16 + triangle(x + y / 2 + 4 * index) * 180 / 255;
        const auto texture = static_cast<int>(hash((x + 2 * index) / 4, (y + index) / 4, 2) % 48);
        const auto grain = static_cast<int>(hash(x, y, index + 3) % 13) - 6;
        return {static_cast<std::uint8_t>(std::clamp(base + texture + grain, 0, 255)),
                triangle(x / 2 + 2 * index), triangle(y + 3 * index)};
    }
    }
    return {0, 128, 128};
}

} // namespace

Picture makePattern(Pattern pattern, int width, int height, int index, AVPixelFormat format) {
    Picture picture = Picture::allocate(width, height, format);
    if (picture.isNull())
        std::abort();
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = picture.plane(0) + static_cast<std::ptrdiff_t>(y) * picture.stride(0);
        for (int x = 0; x < width; ++x)
            row[x] = lumaAt(pattern, x, y, index).y;
    }
    for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < width / 2; ++x) {
            const Sample s = lumaAt(pattern, 2 * x, 2 * y, index);
            if (format == AV_PIX_FMT_NV12) {
                std::uint8_t* uv = picture.plane(1) + y * picture.stride(1);
                uv[2 * x] = s.u;
                uv[2 * x + 1] = s.v;
            } else {
                picture.plane(1)[y * picture.stride(1) + x] = s.u;
                picture.plane(2)[y * picture.stride(2) + x] = s.v;
            }
        }
    }
    return picture;
}

double lumaPsnr(const Picture& a, const Picture& b) {
    double squaredError = 0;
    for (int y = 0; y < a.height(); ++y) {
        const std::uint8_t* rowA = a.plane(0) + static_cast<std::ptrdiff_t>(y) * a.stride(0);
        const std::uint8_t* rowB = b.plane(0) + static_cast<std::ptrdiff_t>(y) * b.stride(0);
        for (int x = 0; x < a.width(); ++x) {
            const int d = rowA[x] - rowB[x];
            squaredError += d * d;
        }
    }
    const double mse = squaredError / (static_cast<double>(a.width()) * a.height());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

} // namespace velmarin::video::testing
