#include "capture/FrameConverter.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace velmarin::capture {

void FrameConverter::SwsDeleter::operator()(SwsContext* context) const {
    sws_freeContext(context);
}

FrameConverter::FrameConverter() = default;
FrameConverter::~FrameConverter() = default;

video::Picture FrameConverter::convert(const BgraImage& image, PictureSize size,
                                       AVPixelFormat format) {
    if (!image.data || image.width <= 0 || image.height <= 0)
        return {};
    // Bilinear keeps text readable when a large display is scaled down; at
    // 1:1 the flag makes no difference.
    SwsContext* context = sws_getCachedContext(m_context.release(), image.width, image.height,
                                               AV_PIX_FMT_BGR0, size.width, size.height, format,
                                               SWS_BILINEAR, nullptr, nullptr, nullptr);
    m_context.reset(context);
    if (!context)
        return {};
    bool converted = false;
    auto picture = m_pool.fill(size.width, size.height, format, [&](AVFrame& frame) {
        const std::uint8_t* source[4] = {image.data, nullptr, nullptr, nullptr};
        const int sourceStride[4] = {image.stride, 0, 0, 0};
        converted = sws_scale(context, source, sourceStride, 0, image.height, frame.data,
                              frame.linesize) == size.height;
    });
    return converted ? picture : video::Picture();
}

} // namespace velmarin::capture
