#pragma once

// A rectangle in whole pixels, origin top-left, y downwards: a monitor on the
// Host's X screen (as "monitors" lists them), the part of the screen that is
// captured and where input lands, a picture letterboxed into a view.

#include <algorithm>

namespace velmarin::protocol {

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool isEmpty() const { return width <= 0 || height <= 0; }
    bool intersects(const PixelRect& other) const {
        return x < other.x + other.width && other.x < x + width && y < other.y + other.height &&
               other.y < y + height;
    }
    PixelRect intersected(const PixelRect& other) const {
        const int left = std::max(x, other.x);
        const int top = std::max(y, other.y);
        const int right = std::min(x + width, other.x + other.width);
        const int bottom = std::min(y + height, other.y + other.height);
        return {left, top, std::max(0, right - left), std::max(0, bottom - top)};
    }
    bool operator==(const PixelRect&) const = default;
};

} // namespace velmarin::protocol
