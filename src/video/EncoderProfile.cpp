#include "video/EncoderProfile.h"

namespace velmarin::video {

EncoderProfile libx264Profile(std::string_view preset, std::string_view x264Params) {
    return EncoderProfile{
        .codecName = "libx264",
        .pixelFormats = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_NV12},
        .options =
            {
                {"preset", std::string(preset)},
                {"tune", "zerolatency"},
                {"profile", "high"},
                {"forced-idr", "1"},
                {"x264-params", std::string(x264Params)},
            },
    };
}

} // namespace velmarin::video
