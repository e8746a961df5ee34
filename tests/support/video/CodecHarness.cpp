#include "support/video/CodecHarness.h"

#include "protocol/VideoFrame.h"

#include <chrono>

namespace velmarin::video::testing {

std::vector<protocol::Bytes> encodeFrames(H264Encoder& encoder, Pattern pattern, int first,
                                          int count, int fps, const std::set<int>& forced) {
    std::vector<protocol::Bytes> messages;
    encoder.setOnEncodedFrame(
        [&](protocol::Bytes message) { messages.push_back(std::move(message)); });
    for (int i = first; i < first + count; ++i) {
        if (forced.contains(i))
            encoder.forceNextKeyframe();
        const auto picture =
            makePattern(pattern, encoder.width(), encoder.height(), i, encoder.inputFormat());
        encoder.encode(picture, std::chrono::nanoseconds(std::int64_t{i} * 1'000'000'000 / fps));
    }
    encoder.setOnEncodedFrame(nullptr);
    return messages;
}

void PictureSink::add(Picture picture, std::uint32_t timestampMs) {
    const std::lock_guard lock(m_mutex);
    m_pictures.push_back({std::move(picture), timestampMs});
}

std::vector<DecodedPicture> PictureSink::pictures() const {
    const std::lock_guard lock(m_mutex);
    return m_pictures;
}

std::uint8_t flagsOf(const protocol::Bytes& message) {
    return message.at(1);
}

std::uint32_t timestampOf(const protocol::Bytes& message) {
    return protocol::parseFrame(message)->timestampMs;
}

std::uint32_t sequenceOf(const protocol::Bytes& message) {
    return protocol::parseFrame(message)->sequenceNumber;
}

} // namespace velmarin::video::testing
