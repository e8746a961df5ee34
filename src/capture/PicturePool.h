#pragma once

// Reuses picture memory between frames: a 1080p picture is 3 MB, and
// allocating it per frame costs page faults on every frame. A buffer goes
// back into use once every Picture made from it is gone (the capture keeps
// the last one for key frame repeats, so two or three buffers circulate).
// One thread.

#include "video/Picture.h"

#include <functional>
#include <vector>

namespace velmarin::capture {

class PicturePool {
public:
    // A picture whose pixels `write` fills before anyone else sees it; empty
    // when memory runs out.
    video::Picture fill(int width, int height, AVPixelFormat format,
                        const std::function<void(AVFrame& frame)>& write);

private:
    static constexpr std::size_t kMaxKept = 3;
    std::vector<video::AVFramePtr> m_frames;
};

} // namespace velmarin::capture
