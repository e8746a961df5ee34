#pragma once

// An H.264 encoder set-up as data: which libavcodec encoder, which input
// pixel formats it takes, and its private options. The settings every stream
// shares (bitrate, data-rate cap, key frame interval, no B-frames) are applied
// by H264Encoder itself, so another encoder (VA-API, say) is one more
// function returning a profile.

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmarin::video {

struct EncoderProfile {
    // libavcodec encoder name, e.g. "libx264".
    std::string codecName;
    // Input formats the encoder takes without conversion, preferred first.
    std::vector<AVPixelFormat> pixelFormats;
    // Encoder-private options (av_opt names and values), applied in order.
    std::vector<std::pair<std::string, std::string>> options;
    // Encoder threads; 0 means one per core, at most four.
    int threadCount = 0;
};

// The x264 speed preset used for the screen stream. "superfast" is the
// slowest preset that kept a 1080p desktop frame under 8 ms (p50) on one core
// of our reference machine; "ultrafast" is faster but drops CABAC and the 8x8
// transform, which costs about a third more bytes for the same picture.
inline constexpr std::string_view kDefaultX264Preset = "superfast";

// Software H.264 through libx264: lowest-latency tuning (no look-ahead, sliced
// threads), High profile, forced pictures become IDR frames, and no scene-cut
// key frames so that key frames come only on request or every 90 frames.
EncoderProfile libx264Profile(std::string_view preset = kDefaultX264Preset);

} // namespace velmarin::video
