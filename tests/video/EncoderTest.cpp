#include "protocol/NALUParser.h"
#include "protocol/VideoFrame.h"
#include "support/video/CodecHarness.h"
#include "video/H264Encoder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace velmarin::video {
namespace {

using protocol::Bytes;
using namespace testing;
using namespace std::chrono_literals;

TEST(H264Encoder, SetupFailuresCarryTheCodecStatusInDutchAndMismatchedPicturesAreDropped) {
    H264Encoder encoder;
    const auto empty = encoder.setup(0, 240);
    ASSERT_FALSE(empty);
    EXPECT_LT(empty.error().status, 0);
    EXPECT_EQ(empty.error().description(),
              "Encoder sessie aanmaken mislukt: " + std::to_string(empty.error().status));
    // 4:2:0 needs even sizes; the codec itself says no.
    EXPECT_FALSE(encoder.setup(321, 240));
    EXPECT_FALSE(encoder.setup(320, 240, AV_PIX_FMT_RGB24)); // not without a conversion

    H264Encoder missing(
        EncoderProfile{.codecName = "no_such_encoder", .pixelFormats = {AV_PIX_FMT_YUV420P}});
    const auto notFound = missing.setup(320, 240);
    ASSERT_FALSE(notFound);
    EXPECT_EQ(notFound.error().description(),
              "Encoder sessie aanmaken mislukt: " + std::to_string(AVERROR_ENCODER_NOT_FOUND));
    // A failed setup leaves an encoder that drops pictures, not one that crashes.
    EXPECT_TRUE(encodeFrames(missing, Pattern::staticText, 0, 0, 30).empty());

    ASSERT_TRUE(encoder.setup(320, 240));
    int frames = 0;
    encoder.setOnEncodedFrame([&](Bytes) { ++frames; });
    encoder.encode(makePattern(Pattern::staticText, 640, 360, 0), 0ns);
    encoder.encode(makePattern(Pattern::staticText, 320, 240, 0, AV_PIX_FMT_NV12), 0ns);
    encoder.encode(Picture{}, 0ns);
    EXPECT_EQ(frames, 0);
    encoder.encode(makePattern(Pattern::staticText, 320, 240, 0), 0ns);
    EXPECT_EQ(frames, 1);
}

TEST(H264Encoder, KeyframesLeadWithParameterSetsOnlyFirstAndWhereForced) {
    H264Encoder encoder;
    ASSERT_TRUE(encoder.setup(320, 240));
    auto messages = encodeFrames(encoder, Pattern::movingGradient, 0, 5, 30);
    // Two requests before one picture fold into one key frame.
    encoder.forceNextKeyframe();
    encoder.forceNextKeyframe();
    const auto more = encodeFrames(encoder, Pattern::movingGradient, 5, 5, 30, {8});
    messages.insert(messages.end(), more.begin(), more.end());
    ASSERT_EQ(messages.size(), 10u);
    for (std::size_t i = 0; i < messages.size(); ++i) {
        SCOPED_TRACE(i);
        const bool key = i == 0 || i == 5 || i == 8;
        EXPECT_EQ(sequenceOf(messages[i]), i);
        EXPECT_EQ(flagsOf(messages[i]), key ? 0x03 : 0x00);
        std::vector<std::uint8_t> types;
        for (const auto unit :
             protocol::NALUParser::extractNALUnits(protocol::parseFrame(messages[i])->payload))
            types.push_back(protocol::NALUParser::unitType(unit));
        ASSERT_FALSE(types.empty());
        EXPECT_EQ(key, types.size() > 1 && types[0] == 7 && types[1] == 8); // SPS, PPS first
        EXPECT_EQ(std::ranges::count_if(types, [](auto t) { return t == 7 || t == 8; }),
                  key ? 2 : 0);
        EXPECT_EQ(key, std::ranges::find(types, 5) != types.end()); // IDR slice
    }
}

} // namespace
} // namespace velmarin::video
