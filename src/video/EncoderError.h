#pragma once

#include <cstdint>
#include <string>

namespace velmarin::video {

// Why the encoder could not be set up. `status` is the codec library's error
// code (a negative AVERROR value).
struct EncoderError {
    enum class Kind { sessionCreationFailed };

    Kind kind = Kind::sessionCreationFailed;
    std::int32_t status = 0;

    // The Dutch text shown to the user.
    std::string description() const;

    bool operator==(const EncoderError&) const = default;
};

} // namespace velmarin::video
