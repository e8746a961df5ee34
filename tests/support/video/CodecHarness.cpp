#include "support/video/CodecHarness.h"

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

} // namespace velmarin::video::testing
