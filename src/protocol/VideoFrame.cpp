#include "protocol/VideoFrame.h"

namespace velmarin::protocol {
namespace {

constexpr std::array<std::uint8_t, 4> kStartCode{0, 0, 0, 1};

void putU32(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

std::uint32_t getU32(const std::uint8_t* in) {
    return (std::uint32_t{in[0]} << 24) | (std::uint32_t{in[1]} << 16) |
           (std::uint32_t{in[2]} << 8) | std::uint32_t{in[3]};
}

void appendUnit(Bytes& out, ByteView unit) {
    out.insert(out.end(), kStartCode.begin(), kStartCode.end());
    out.insert(out.end(), unit.begin(), unit.end());
}

} // namespace

std::array<std::uint8_t, VideoFrameHeader::kSize> VideoFrameHeader::encode() const {
    std::array<std::uint8_t, kSize> out{};
    out[0] = kVersion;
    out[1] = static_cast<std::uint8_t>((isKeyframe ? kFlagKeyframe : 0) |
                                       (hasParameterSets ? kFlagParameterSets : 0));
    putU32(&out[2], timestampMs);
    putU32(&out[6], sequenceNumber);
    putU32(&out[10], payloadSize);
    return out;
}

std::uint32_t frameTimestampMs(std::chrono::nanoseconds sinceEncoderStart) {
    const auto ms = sinceEncoderStart.count() / 1'000'000;
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms < 0 ? 0 : ms));
}

Bytes packageFrame(const EncodedFrame& frame) {
    Bytes message(VideoFrameHeader::kSize);
    message.reserve(VideoFrameHeader::kSize + frame.units.size() + 64);

    const std::vector<ByteView> units = frame.format == NalFormat::annexB
                                            ? NALUParser::extractNALUnits(frame.units)
                                            : NALUParser::extractLengthPrefixedUnits(frame.units);

    // Parameter-set prefix, keyframes only.
    if (frame.isKeyframe) {
        for (const ByteView ps : frame.parameterSets)
            appendUnit(message, ps);
        if (frame.format == NalFormat::annexB) {
            for (const ByteView unit : units) {
                if (NALUParser::isParameterSet(unit))
                    appendUnit(message, unit);
            }
        }
    }
    const bool hasParameterSets = message.size() > VideoFrameHeader::kSize;

    for (const ByteView unit : units) {
        if (frame.format == NalFormat::annexB) {
            // Empty units come only from adjacent start codes: nothing to send.
            if (unit.empty() || (frame.isKeyframe && NALUParser::isParameterSet(unit)))
                continue;
        }
        appendUnit(message, unit);
    }

    const VideoFrameHeader header{
        .isKeyframe = frame.isKeyframe,
        .hasParameterSets = hasParameterSets,
        .timestampMs = frame.timestampMs,
        .sequenceNumber = frame.sequenceNumber,
        .payloadSize = static_cast<std::uint32_t>(message.size() - VideoFrameHeader::kSize),
    };
    const auto encoded = header.encode();
    std::copy(encoded.begin(), encoded.end(), message.begin());
    return message;
}

std::optional<ReceivedFrame> parseFrame(ByteView message) {
    if (message.size() <= VideoFrameHeader::kSize || message[0] != VideoFrameHeader::kVersion)
        return std::nullopt;
    const std::uint8_t flags = message[1];
    return ReceivedFrame{
        .isKeyframe = (flags & VideoFrameHeader::kFlagKeyframe) != 0,
        .hasParameterSets = (flags & VideoFrameHeader::kFlagParameterSets) != 0,
        .timestampMs = getU32(&message[2]),
        .sequenceNumber = getU32(&message[6]),
        .payload = message.subspan(VideoFrameHeader::kSize),
    };
}

} // namespace velmarin::protocol
