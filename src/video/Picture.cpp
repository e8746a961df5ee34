#include "video/Picture.h"

namespace velmarin::video {

Picture Picture::allocate(int width, int height, AVPixelFormat format) {
    if (width <= 0 || height <= 0)
        return {};
    AVFramePtr frame(av_frame_alloc());
    if (!frame)
        return {};
    frame->width = width;
    frame->height = height;
    frame->format = format;
    // 32-byte alignment keeps the SIMD paths of the codec and scaler happy.
    if (av_frame_get_buffer(frame.get(), 32) < 0)
        return {};
    return adopt(std::move(frame));
}

Picture Picture::adopt(AVFramePtr frame) {
    if (!frame || !frame->data[0])
        return {};
    return Picture(std::shared_ptr<AVFrame>(frame.release(), FFmpegDeleter{}));
}

} // namespace velmarin::video
