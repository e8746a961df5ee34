#pragma once

// Drives the real encoder and decoder in tests: encode a run of synthetic
// pictures into frame messages, collect what the decoder delivers.

#include "protocol/NALUParser.h"
#include "protocol/VideoFrame.h"
#include "support/video/PatternGenerator.h"
#include "video/H264Encoder.h"
#include "video/Picture.h"

#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

namespace velmarin::video::testing {

// Pictures `first` .. `first + count - 1` of the pattern at `fps`, with key
// frames forced before the indexes in `forced`. Returns the frame messages.
std::vector<protocol::Bytes> encodeFrames(H264Encoder& encoder, Pattern pattern, int first,
                                          int count, int fps, const std::set<int>& forced = {});

struct DecodedPicture {
    Picture picture;
    std::uint32_t timestampMs = 0;
};

// Thread-safe collector for the decoder's callback.
class PictureSink {
public:
    void add(Picture picture, std::uint32_t timestampMs) {
        const std::lock_guard lock(m_mutex);
        m_pictures.push_back({std::move(picture), timestampMs});
    }
    std::vector<DecodedPicture> pictures() const {
        const std::lock_guard lock(m_mutex);
        return m_pictures;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<DecodedPicture> m_pictures;
};

// Header fields straight from the wire bytes.
inline std::uint8_t flagsOf(const protocol::Bytes& message) {
    return message.at(1);
}
inline std::uint32_t timestampOf(const protocol::Bytes& message) {
    return protocol::parseFrame(message)->timestampMs;
}
inline std::uint32_t sequenceOf(const protocol::Bytes& message) {
    return protocol::parseFrame(message)->sequenceNumber;
}

} // namespace velmarin::video::testing
