#include "capture/FrameConverter.h"

#include <libyuv.h>

namespace velmarin::capture {

video::Picture FrameConverter::convert(const BgraImage& image, PictureSize size,
                                       AVPixelFormat format) {
    if (!image.data || image.width <= 0 || image.height <= 0 ||
        (format != AV_PIX_FMT_YUV420P && format != AV_PIX_FMT_NV12))
        return {};
    const std::uint8_t* source = image.data;
    int stride = image.stride;
    if (size.width != image.width || size.height != image.height) {
        // Scaled in BGRX first: bilinear keeps text readable, and the
        // conversion then runs on the smaller picture.
        m_scaled.resize(static_cast<std::size_t>(size.width) * size.height * 4);
        if (libyuv::ARGBScale(image.data, image.stride, image.width, image.height, m_scaled.data(),
                              size.width * 4, size.width, size.height,
                              libyuv::kFilterBilinear) != 0)
            return {};
        source = m_scaled.data();
        stride = size.width * 4;
    }
    bool converted = false;
    auto picture = m_pool.fill(size.width, size.height, format, [&](AVFrame& frame) {
        // libyuv's "ARGB" is the little-endian word, B, G, R, A in memory.
        converted =
            format == AV_PIX_FMT_NV12
                ? libyuv::ARGBToNV12(source, stride, frame.data[0], frame.linesize[0],
                                     frame.data[1], frame.linesize[1], size.width, size.height) == 0
                : libyuv::ARGBToI420(source, stride, frame.data[0], frame.linesize[0],
                                     frame.data[1], frame.linesize[1], frame.data[2],
                                     frame.linesize[2], size.width, size.height) == 0;
    });
    return converted ? picture : video::Picture();
}

} // namespace velmarin::capture
