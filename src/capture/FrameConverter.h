#pragma once

// Turns a grabbed B, G, R, X image into the encoder's 4:2:0 picture, scaled
// to the capture size, in one pass of libswscale (BT.601, limited range,
// like the decoder on the other side assumes). Capture thread only.

#include "capture/CaptureGeometry.h"
#include "capture/PicturePool.h"
#include "capture/ScreenSource.h"
#include "video/Picture.h"

#include <memory>

struct SwsContext;

namespace velmarin::capture {

class FrameConverter {
public:
    FrameConverter();
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // `format` is AV_PIX_FMT_YUV420P or AV_PIX_FMT_NV12. Empty on failure.
    video::Picture convert(const BgraImage& image, PictureSize size, AVPixelFormat format);

private:
    struct SwsDeleter {
        void operator()(SwsContext* context) const;
    };
    std::unique_ptr<SwsContext, SwsDeleter> m_context;
    PicturePool m_pool;
};

} // namespace velmarin::capture
