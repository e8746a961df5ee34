#pragma once

// Synthetic screen content for the codec tests and benchmarks: what a shared
// desktop shows, without a desktop.

#include "video/Picture.h"

namespace velmarin::video::testing {

enum class Pattern {
    // A page of small dark glyphs on white, a title bar and a side panel.
    staticText,
    // The same page scrolling up by 3 pixels per frame.
    scrollingText,
    // Smooth gradients drifting across the whole picture.
    movingGradient,
    // Drifting gradients plus a moving texture and fresh grain in every
    // frame: content that keeps the encoder busy at any bitrate.
    fullMotion,
};

// Frame `index` of the pattern, in YUV420P or NV12.
Picture makePattern(Pattern pattern, int width, int height, int index,
                    AVPixelFormat format = AV_PIX_FMT_YUV420P);

// Peak signal-to-noise ratio of the luma planes in dB (99 for identical
// planes). Both pictures must have the same size.
double lumaPsnr(const Picture& a, const Picture& b);

} // namespace velmarin::video::testing
