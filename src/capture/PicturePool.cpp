#include "capture/PicturePool.h"

namespace velmarin::capture {

video::Picture PicturePool::fill(int width, int height, AVPixelFormat format,
                                 const std::function<void(AVFrame& frame)>& write) {
    AVFrame* frame = nullptr;
    for (auto& kept : m_frames) {
        // Writable: no picture made from it is alive any more.
        if (kept->width == width && kept->height == height && kept->format == format &&
            av_frame_is_writable(kept.get())) {
            frame = kept.get();
            break;
        }
    }
    video::AVFramePtr fresh;
    if (!frame) {
        fresh.reset(av_frame_alloc());
        if (!fresh)
            return {};
        fresh->width = width;
        fresh->height = height;
        fresh->format = format;
        if (av_frame_get_buffer(fresh.get(), 32) < 0)
            return {};
        frame = fresh.get();
    }
    write(*frame);
    video::AVFramePtr shared(av_frame_clone(frame));
    if (fresh) {
        // Frames of another size are of no further use.
        std::erase_if(m_frames, [&](const video::AVFramePtr& kept) {
            return kept->width != width || kept->height != height || kept->format != format;
        });
        if (m_frames.size() < kMaxKept)
            m_frames.push_back(std::move(fresh));
    }
    return video::Picture::adopt(std::move(shared));
}

} // namespace velmarin::capture
