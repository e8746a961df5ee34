#include "support/video/CodecHarness.h"
#include "video/H264Decoder.h"

#include <gtest/gtest.h>

namespace velmarin::video {
namespace {

using namespace testing;

struct RoundTripCase {
    Pattern pattern;
    AVPixelFormat format;
};

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

// 640x360 at 2 Mbit/s. One-pixel text, the hardest case, measured 37 dB at
// worst (gradients 52 dB) and stays readable from about 30 dB; a picture five
// frames off scores about 8 dB lower, so 30 dB still tells them apart.
TEST_P(RoundTrip, PicturesComeBackTheSameSizeAndRecognisablyTheSame) {
    constexpr int kWidth = 640;
    constexpr int kHeight = 360;
    constexpr int kFrames = 45;
    H264Encoder encoder;
    encoder.updateBitrate(2'000'000);
    ASSERT_TRUE(encoder.setup(kWidth, kHeight, GetParam().format));
    ASSERT_EQ(encoder.inputFormat(), GetParam().format);
    const auto messages = encodeFrames(encoder, GetParam().pattern, 0, kFrames, 30);
    ASSERT_EQ(messages.size(), static_cast<std::size_t>(kFrames));

    H264Decoder decoder;
    PictureSink sink;
    decoder.setOnDecodedFrame(
        [&](Picture picture, std::uint32_t ts) { sink.add(std::move(picture), ts); });
    // In batches: a backlog of more than a second of video is skipped on purpose.
    for (std::size_t i = 0; i < messages.size(); ++i) {
        decoder.decode(messages[i]);
        if (i % 10 == 9)
            decoder.waitUntilIdle();
    }
    decoder.waitUntilIdle();

    const auto pictures = sink.pictures();
    ASSERT_EQ(pictures.size(), messages.size());
    double worst = 99;
    double control = 0;
    for (int i = 0; i < kFrames; ++i) {
        const auto& decoded = pictures[static_cast<std::size_t>(i)];
        ASSERT_EQ(decoded.picture.width(), kWidth);
        ASSERT_EQ(decoded.picture.height(), kHeight);
        EXPECT_EQ(decoded.timestampMs, timestampOf(messages[static_cast<std::size_t>(i)]));
        const auto source = makePattern(GetParam().pattern, kWidth, kHeight, i);
        worst = std::min(worst, lumaPsnr(decoded.picture, source));
        if (i == kFrames - 1)
            control =
                lumaPsnr(decoded.picture, makePattern(GetParam().pattern, kWidth, kHeight, i - 5));
    }
    EXPECT_GT(worst, 30.0);
    EXPECT_LT(control, worst - 8.0);
}

INSTANTIATE_TEST_SUITE_P(
    Content, RoundTrip,
    ::testing::Values(RoundTripCase{Pattern::scrollingText, AV_PIX_FMT_YUV420P},
                      RoundTripCase{Pattern::movingGradient, AV_PIX_FMT_YUV420P},
                      RoundTripCase{Pattern::scrollingText, AV_PIX_FMT_NV12}),
    [](const auto& info) {
        return std::string(info.param.pattern == Pattern::scrollingText ? "Text" : "Gradient") +
               (info.param.format == AV_PIX_FMT_NV12 ? "Nv12" : "Yuv420p");
    });

} // namespace
} // namespace velmarin::video
