#include "protocol/NALUParser.h"
#include "protocol/VideoFrame.h"
#include "support/video/CodecHarness.h"
#include "video/H264Encoder.h"

#include <gtest/gtest.h>

#include <thread>

namespace velmarin::video {
namespace {

using protocol::Bytes;
using namespace testing;
using namespace std::chrono_literals;

std::vector<std::uint8_t> unitTypes(const Bytes& message) {
    std::vector<std::uint8_t> types;
    const auto frame = protocol::parseFrame(message);
    for (const auto unit : protocol::NALUParser::extractNALUnits(frame->payload))
        types.push_back(protocol::NALUParser::unitType(unit));
    return types;
}

TEST(H264Encoder, SetupFailuresCarryTheCodecStatusInDutch) {
    H264Encoder encoder;
    const auto empty = encoder.setup(0, 240);
    ASSERT_TRUE(empty);
    EXPECT_LT(empty->status, 0);
    EXPECT_EQ(empty->description(),
              "Encoder sessie aanmaken mislukt: " + std::to_string(empty->status));
    // 4:2:0 needs even sizes; the codec itself says no.
    EXPECT_TRUE(encoder.setup(321, 240));

    H264Encoder missing(
        EncoderProfile{.codecName = "no_such_encoder", .pixelFormats = {AV_PIX_FMT_YUV420P}});
    const auto notFound = missing.setup(320, 240);
    ASSERT_TRUE(notFound);
    EXPECT_EQ(notFound->description(),
              "Encoder sessie aanmaken mislukt: " + std::to_string(AVERROR_ENCODER_NOT_FOUND));

    // A failed setup leaves an encoder that drops pictures, not one that crashes.
    EXPECT_TRUE(encodeFrames(missing, Pattern::staticText, 0, 0, 30).empty());
}

TEST(H264Encoder, FirstFrameIsKeyframeWithParameterSetsThenNumberedDeltaFrames) {
    H264Encoder encoder;
    ASSERT_FALSE(encoder.setup(320, 240));
    const auto messages = encodeFrames(encoder, Pattern::scrollingText, 0, 5, 30);
    ASSERT_EQ(messages.size(), 5u);

    EXPECT_EQ(flagsOf(messages[0]), 0x03);
    const auto first = unitTypes(messages[0]);
    ASSERT_GE(first.size(), 3u);
    EXPECT_EQ(first[0], 7);
    EXPECT_EQ(first[1], 8);
    EXPECT_NE(std::find(first.begin(), first.end(), 5), first.end()); // IDR slice

    for (std::size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(sequenceOf(messages[i]), i);
        const auto header = protocol::parseFrame(messages[i]);
        EXPECT_EQ(protocol::VideoFrameHeader::kSize + header->payload.size(), messages[i].size());
        if (i > 0) {
            EXPECT_EQ(flagsOf(messages[i]), 0x00);
            for (const auto type : unitTypes(messages[i]))
                EXPECT_FALSE(type == 7 || type == 8 || type == 5);
        }
    }
}

TEST(H264Encoder, EachForceRequestGivesOneIdrOnTheNextPicture) {
    H264Encoder encoder;
    ASSERT_FALSE(encoder.setup(320, 240));
    auto messages = encodeFrames(encoder, Pattern::movingGradient, 0, 5, 30);
    // Two requests before one picture fold into one key frame.
    encoder.forceNextKeyframe();
    encoder.forceNextKeyframe();
    const auto more = encodeFrames(encoder, Pattern::movingGradient, 5, 5, 30, {8});
    messages.insert(messages.end(), more.begin(), more.end());
    ASSERT_EQ(messages.size(), 10u);
    for (int i = 1; i < 10; ++i) {
        const bool expectKey = i == 5 || i == 8;
        EXPECT_EQ(flagsOf(messages[i]), expectKey ? 0x03 : 0x00) << "frame " << i;
        if (expectKey) {
            EXPECT_EQ(unitTypes(messages[i])[0], 7);
        }
    }
}

TEST(H264Encoder, TeardownFlushesRestartsSequenceAndKeepsTheClock) {
    H264Encoder encoder;
    std::this_thread::sleep_for(20ms);
    ASSERT_FALSE(encoder.setup(320, 240));
    const auto before = encodeFrames(encoder, Pattern::staticText, 0, 3, 30);
    ASSERT_EQ(before.size(), 3u);
    EXPECT_GE(timestampOf(before[0]), 20u);
    encoder.teardown();
    EXPECT_EQ(encoder.inputFormat(), AV_PIX_FMT_NONE);

    // Torn down: pictures are dropped.
    encoder.setOnEncodedFrame([](Bytes) { FAIL() << "frame from a torn-down encoder"; });
    encoder.encode(makePattern(Pattern::staticText, 320, 240, 0), 0ns);

    ASSERT_FALSE(encoder.setup(640, 360));
    const auto after = encodeFrames(encoder, Pattern::staticText, 0, 2, 30);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(sequenceOf(after[0]), 0u);
    EXPECT_EQ(flagsOf(after[0]), 0x03);
    EXPECT_GE(timestampOf(after[0]), timestampOf(before[2]));
}

TEST(H264Encoder, DropsPicturesThatDoNotMatchItsSetup) {
    H264Encoder encoder;
    ASSERT_FALSE(encoder.setup(320, 240));
    int frames = 0;
    encoder.setOnEncodedFrame([&](Bytes) { ++frames; });
    encoder.encode(makePattern(Pattern::staticText, 640, 360, 0), 0ns);
    encoder.encode(makePattern(Pattern::staticText, 320, 240, 0, AV_PIX_FMT_NV12), 0ns);
    encoder.encode(Picture{}, 0ns);
    EXPECT_EQ(frames, 0);
    encoder.encode(makePattern(Pattern::staticText, 320, 240, 0), 0ns);
    EXPECT_EQ(frames, 1);
}

TEST(H264Encoder, TakesNv12WhenSetUpForIt) {
    H264Encoder encoder;
    ASSERT_FALSE(encoder.setup(320, 240, AV_PIX_FMT_NV12));
    EXPECT_EQ(encoder.inputFormat(), AV_PIX_FMT_NV12);
    EXPECT_EQ(encodeFrames(encoder, Pattern::movingGradient, 0, 3, 30).size(), 3u);
    EXPECT_TRUE(encoder.setup(320, 240, AV_PIX_FMT_RGB24)); // not without a conversion
}

TEST(H264Encoder, BitrateBeforeSetupIsKeptAndCapIsTwiceTheTruncatedByteRate) {
    H264Encoder encoder;
    EXPECT_EQ(encoder.bitrate(), 3'000'000);
    encoder.updateBitrate(1'000'001);
    ASSERT_FALSE(encoder.setup(320, 240));
    EXPECT_EQ(encoder.bitrate(), 1'000'001);
    EXPECT_EQ(H264Encoder::dataRateLimitBytesPerSecond(3'000'000), 750'000);
    EXPECT_EQ(H264Encoder::dataRateLimitBytesPerSecond(4'000'000), 1'000'000);
    EXPECT_EQ(H264Encoder::dataRateLimitBytesPerSecond(1'000'001), 250'000);
}

} // namespace
} // namespace velmarin::video
