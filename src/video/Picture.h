#pragma once

// The picture that travels through the video pipeline: capture → encoder on
// the Host, decoder → renderer and recorder on the Viewer. It wraps one
// AVFrame in YUV 4:2:0 (planar, AV_PIX_FMT_YUV420P) or NV12; the decoder may
// also hand out AV_PIX_FMT_YUVJ420P (the same layout, full range).
//
// Copies are cheap and share the pixels (reference counted). Whoever creates
// a picture fills it before handing it on; from then on every holder treats
// it as read-only, which is what makes sharing it across threads safe.

#include "video/FFmpegHandles.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <cstdint>
#include <memory>

namespace velmarin::video {

class Picture {
public:
    // An empty picture; `isNull()` is true.
    Picture() = default;

    // A new picture with uninitialised pixels, or an empty one when the size
    // is not positive or memory runs out.
    static Picture allocate(int width, int height, AVPixelFormat format);

    // Takes over a frame that holds pixel data (for instance one returned by
    // a decoder).
    static Picture adopt(AVFramePtr frame);

    bool isNull() const { return !m_frame; }
    int width() const { return m_frame ? m_frame->width : 0; }
    int height() const { return m_frame ? m_frame->height : 0; }
    AVPixelFormat format() const {
        return m_frame ? static_cast<AVPixelFormat>(m_frame->format) : AV_PIX_FMT_NONE;
    }

    // Plane 0 is luma; planes 1 and 2 are U and V (YUV420P) or plane 1 is the
    // interleaved UV plane (NV12). Writing is for the creator only.
    std::uint8_t* plane(int index) const { return m_frame->data[index]; }
    int stride(int index) const { return m_frame->linesize[index]; }

    // For handing to libav* functions; do not modify through it.
    const AVFrame* avFrame() const { return m_frame.get(); }

private:
    explicit Picture(std::shared_ptr<AVFrame> frame)
        : m_frame(std::move(frame)) {}

    std::shared_ptr<AVFrame> m_frame;
};

} // namespace velmarin::video
