#include "video/playback/AspectFit.h"

#include <cstdint>

namespace velmarin::video {

protocol::PixelRect aspectFit(int pictureWidth, int pictureHeight, int areaWidth, int areaHeight,
                              int alignment) {
    if (pictureWidth <= 0 || pictureHeight <= 0 || areaWidth <= 0 || areaHeight <= 0 ||
        alignment <= 0)
        return {};
    const auto align = [alignment](std::int64_t value) {
        return static_cast<int>(value / alignment * alignment);
    };
    protocol::PixelRect rect;
    // Compare pictureW / pictureH with areaW / areaH without rounding.
    if (std::int64_t(pictureWidth) * areaHeight >= std::int64_t(areaWidth) * pictureHeight) {
        rect.width = align(areaWidth);
        rect.height = align(std::int64_t(areaWidth) * pictureHeight / pictureWidth);
    } else {
        rect.height = align(areaHeight);
        rect.width = align(std::int64_t(areaHeight) * pictureWidth / pictureHeight);
    }
    rect.x = align((areaWidth - rect.width) / 2);
    rect.y = align((areaHeight - rect.height) / 2);
    return rect;
}

} // namespace velmarin::video
