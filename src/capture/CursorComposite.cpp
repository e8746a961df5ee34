#include "capture/CursorComposite.h"

#include <algorithm>

namespace velmarin::capture {

void compositeCursor(std::uint8_t* picture, int width, int height, int stride,
                     const std::uint32_t* cursor, int cursorWidth, int cursorHeight, int left,
                     int top) {
    const int firstRow = std::max(0, -top);
    const int lastRow = std::min(cursorHeight, height - top);
    const int firstColumn = std::max(0, -left);
    const int lastColumn = std::min(cursorWidth, width - left);
    for (int row = firstRow; row < lastRow; ++row) {
        std::uint8_t* out = picture + static_cast<std::ptrdiff_t>(top + row) * stride;
        for (int column = firstColumn; column < lastColumn; ++column) {
            const std::uint32_t argb = cursor[row * cursorWidth + column];
            const std::uint32_t alpha = argb >> 24;
            if (alpha == 0)
                continue;
            std::uint8_t* pixel = out + (left + column) * 4;
            // Premultiplied: source + destination × (1 − alpha); clamped in
            // case an image is not premultiplied after all.
            const auto blend = [keep = 255 - alpha](std::uint32_t source, std::uint8_t target) {
                return static_cast<std::uint8_t>(
                    std::min<std::uint32_t>(255, source + (target * keep + 127) / 255));
            };
            pixel[0] = blend(argb & 0xff, pixel[0]);
            pixel[1] = blend((argb >> 8) & 0xff, pixel[1]);
            pixel[2] = blend((argb >> 16) & 0xff, pixel[2]);
        }
    }
}

} // namespace velmarin::capture
