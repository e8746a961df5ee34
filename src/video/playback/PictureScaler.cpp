#include "video/playback/PictureScaler.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace velmarin::video {

bool isFullRange(const Picture& picture) {
    return picture.format() == AV_PIX_FMT_YUVJ420P ||
           (!picture.isNull() && picture.avFrame()->color_range == AVCOL_RANGE_JPEG);
}

PictureScaler::PictureScaler() = default;
PictureScaler::~PictureScaler() = default;

bool PictureScaler::scale(const Picture& source, int width, int height, AVPixelFormat format,
                          std::uint8_t* const planes[4], const int strides[4]) {
    if (source.isNull() || width <= 0 || height <= 0)
        return false;
    const bool fullRange = isFullRange(source);
    // swscale wants the deprecated J format spelt as the plain one plus a
    // range flag.
    const AVPixelFormat sourceFormat =
        source.format() == AV_PIX_FMT_YUVJ420P ? AV_PIX_FMT_YUV420P : source.format();
    if (!m_context || m_sourceWidth != source.width() || m_sourceHeight != source.height() ||
        m_sourceFormat != sourceFormat || m_sourceFullRange != fullRange || m_width != width ||
        m_height != height || m_format != format) {
        m_context.reset(sws_getContext(source.width(), source.height(), sourceFormat, width, height,
                                       format, SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!m_context)
            return false;
        const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(m_context.get(), coefficients, fullRange ? 1 : 0, coefficients, 0,
                                 0, 1 << 16, 1 << 16);
        m_sourceWidth = source.width();
        m_sourceHeight = source.height();
        m_sourceFormat = sourceFormat;
        m_sourceFullRange = fullRange;
        m_width = width;
        m_height = height;
        m_format = format;
    }
    const AVFrame* frame = source.avFrame();
    return sws_scale(m_context.get(), frame->data, frame->linesize, 0, source.height(), planes,
                     strides) == height;
}

Picture PictureScaler::scaled(const Picture& source, int width, int height, AVPixelFormat format) {
    Picture out = Picture::allocate(width, height, format);
    if (out.isNull())
        return {};
    const AVFrame* frame = out.avFrame();
    if (!scale(source, width, height, format, frame->data, frame->linesize))
        return {};
    return out;
}

} // namespace velmarin::video
