#pragma once

// Rectangles of the X screen and the rule that sizes the encoded picture.

#include <algorithm>
#include <cstdint>

namespace velmarin::capture {

// A rectangle in root-window pixels (origin top-left of the whole X screen).
struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool isEmpty() const { return width <= 0 || height <= 0; }
    bool intersects(const ScreenRect& other) const {
        return x < other.x + other.width && other.x < x + width && y < other.y + other.height &&
               other.y < y + height;
    }
    ScreenRect intersected(const ScreenRect& other) const {
        const int left = std::max(x, other.x);
        const int top = std::max(y, other.y);
        const int right = std::min(x + width, other.x + other.width);
        const int bottom = std::min(y + height, other.y + other.height);
        return {left, top, std::max(0, right - left), std::max(0, bottom - top)};
    }
    bool operator==(const ScreenRect&) const = default;
};

struct PictureSize {
    int width = 0;
    int height = 0;
    bool operator==(const PictureSize&) const = default;
};

inline constexpr int kMaxCaptureWidth = 1920;
inline constexpr int kMaxCaptureHeight = 1080;

// The encoded size for a display of w × h pixels: unchanged up to
// 1920 × 1080, otherwise scaled by min(1920 / w, 1080 / h) and truncated
// (1920 × 1200 → 1728 × 1080). Both sides are then made even, because 4:2:0
// pictures cannot have odd sizes (3440 × 1440 → 1920 × 802, not 803).
PictureSize captureSizeFor(int width, int height);

} // namespace velmarin::capture
