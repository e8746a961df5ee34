#pragma once

// Binary video frame messages: a 14-byte header followed by one H.264 access
// unit in Annex-B form with 4-byte start codes.
//
//   offset 0  version (1)
//          1  flags: bit 0 keyframe, bit 1 payload begins with SPS/PPS
//          2  timestampMs     (u32, big-endian)
//          6  sequenceNumber  (u32, big-endian)
//         10  payloadSize     (u32, big-endian)
//         14  payload

#include "protocol/NALUParser.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace velmarin::protocol {

struct VideoFrameHeader {
    static constexpr std::size_t kSize = 14;
    static constexpr std::uint8_t kVersion = 1;
    static constexpr std::uint8_t kFlagKeyframe = 0x01;
    static constexpr std::uint8_t kFlagParameterSets = 0x02;

    bool isKeyframe = false;
    bool hasParameterSets = false;
    std::uint32_t timestampMs = 0;
    std::uint32_t sequenceNumber = 0;
    std::uint32_t payloadSize = 0;

    std::array<std::uint8_t, kSize> encode() const;
    bool operator==(const VideoFrameHeader&) const = default;
};

// The Host's frame timestamp: milliseconds since the encoder started, modulo
// 2^32. The field wraps after about 49.7 days of one encoder; receivers use it
// only for differences over short spans, which survive the wrap when computed
// in unsigned 32-bit arithmetic. Sequence numbers wrap the same way.
std::uint32_t frameTimestampMs(std::chrono::nanoseconds sinceEncoderStart);

// How the encoder hands over the units of one frame.
enum class NalFormat {
    annexB,         // start-code delimited (3- or 4-byte start codes)
    lengthPrefixed, // each unit behind a 4-byte big-endian length
};

struct EncodedFrame {
    bool isKeyframe = false;
    // Parameter sets to put in front of a keyframe (SPS, then PPS). Ignored on
    // other frames.
    std::vector<ByteView> parameterSets;
    ByteView units;
    NalFormat format = NalFormat::annexB;
    std::uint32_t timestampMs = 0;
    std::uint32_t sequenceNumber = 0;
};

// One complete frame message: header, then on a keyframe the parameter sets,
// then the frame's units, each behind 00 00 00 01. On a keyframe SPS/PPS
// units found in Annex-B input are moved into the parameter-set prefix, so an
// encoder that repeats its headers in-band needs no extra step.
// `hasParameterSets` is set exactly when the frame is a keyframe and the
// prefix is not empty. A truncated length-prefixed unit ends the payload at
// that unit.
Bytes packageFrame(const EncodedFrame& frame);

// What the receiver takes from a frame message. `payload` points into the
// message it was parsed from.
struct ReceivedFrame {
    bool isKeyframe = false;
    bool hasParameterSets = false;
    std::uint32_t timestampMs = 0;
    std::uint32_t sequenceNumber = 0;
    ByteView payload;
};

// Validates a received binary message: nothing for fewer than 15 bytes or a
// version other than 1. The payload is everything after the header, whatever
// the header's payloadSize says.
std::optional<ReceivedFrame> parseFrame(ByteView message);

} // namespace velmarin::protocol
