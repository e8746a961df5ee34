#pragma once

// Pictures with known content for the viewer tests.

#include "video/Picture.h"

#include <cstring>

namespace velmarin::ui::fixtures {

struct Yuv {
    std::uint8_t y, u, v;
};
// Limited-range BT.601 values.
inline constexpr Yuv kRed{81, 90, 240};
inline constexpr Yuv kBlue{41, 240, 110};

// Top half `top`, bottom half `bottom`, in YUV420P or NV12.
inline video::Picture twoColourPicture(int width, int height, Yuv top, Yuv bottom,
                                       AVPixelFormat format = AV_PIX_FMT_YUV420P) {
    video::Picture picture = video::Picture::allocate(width, height, format);
    for (int y = 0; y < height; ++y)
        std::memset(picture.plane(0) + y * picture.stride(0), y < height / 2 ? top.y : bottom.y,
                    static_cast<std::size_t>(width));
    for (int y = 0; y < height / 2; ++y) {
        const Yuv& c = y < height / 4 ? top : bottom;
        for (int x = 0; x < width / 2; ++x) {
            if (format == AV_PIX_FMT_NV12) {
                picture.plane(1)[y * picture.stride(1) + 2 * x] = c.u;
                picture.plane(1)[y * picture.stride(1) + 2 * x + 1] = c.v;
            } else {
                picture.plane(1)[y * picture.stride(1) + x] = c.u;
                picture.plane(2)[y * picture.stride(2) + x] = c.v;
            }
        }
    }
    return picture;
}

} // namespace velmarin::ui::fixtures
