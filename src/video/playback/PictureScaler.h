#pragma once

// Converts and scales pictures with libswscale, keeping the conversion
// context between calls with the same sizes and formats. Full-range pictures
// (YUVJ420P, or a frame marked full range) are converted as such. One
// instance per thread.

#include "video/FFmpegHandles.h"
#include "video/Picture.h"

#include <cstdint>
#include <memory>

namespace velmarin::video {

class PictureScaler {
public:
    PictureScaler();
    ~PictureScaler();
    PictureScaler(const PictureScaler&) = delete;
    PictureScaler& operator=(const PictureScaler&) = delete;

    // Scales the whole of `source` into planes of `width` × `height` in
    // `format`. False when the picture is empty or the conversion is not
    // possible.
    bool scale(const Picture& source, int width, int height, AVPixelFormat format,
               std::uint8_t* const planes[4], const int strides[4]);

    // A new picture of that size and format (limited range for YUV); empty
    // on failure.
    Picture scaled(const Picture& source, int width, int height, AVPixelFormat format);

private:
    SwsContextPtr m_context;
    int m_sourceWidth = 0, m_sourceHeight = 0, m_width = 0, m_height = 0;
    AVPixelFormat m_sourceFormat = AV_PIX_FMT_NONE, m_format = AV_PIX_FMT_NONE;
    bool m_sourceFullRange = false;
};

// Whether the picture's samples use the full 0-255 range.
bool isFullRange(const Picture& picture);

} // namespace velmarin::video
