#include "protocol/VideoFrame.h"
#include "support/video/CodecHarness.h"
#include "video/H264Decoder.h"

#include <gtest/gtest.h>

#include <latch>
#include <random>
#include <thread>

namespace velmarin::video {
namespace {

using protocol::Bytes;
using namespace testing;
using namespace std::chrono_literals;

class H264DecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        decoder.setOnDecodedFrame(
            [this](Picture picture, std::uint32_t ts) { sink.add(std::move(picture), ts); });
    }

    std::vector<Bytes> stream(int width, int height, int count, const std::set<int>& forced = {}) {
        H264Encoder encoder;
        EXPECT_TRUE(encoder.setup(width, height));
        return encodeFrames(encoder, Pattern::scrollingText, 0, count, 30, forced);
    }

    void feed(const std::vector<Bytes>& messages, std::size_t from = 0) {
        for (std::size_t i = from; i < messages.size(); ++i)
            decoder.decode(messages[i]);
        decoder.waitUntilIdle();
    }

    H264Decoder decoder;
    PictureSink sink;
};

TEST_F(H264DecoderTest, StartsAtParameterSetsKeepsItsDecoderForThemAndForgetsThemOnTeardown) {
    const auto messages = stream(320, 240, 30, {10, 20});
    feed(messages, 1);
    const auto pictures = sink.pictures();
    ASSERT_EQ(pictures.size(), 20u);
    EXPECT_EQ(pictures.front().timestampMs, timestampOf(messages[10]));
    EXPECT_EQ(pictures.front().picture.width(), 320);
    EXPECT_EQ(pictures.front().picture.height(), 240);
    EXPECT_EQ(decoder.sessionsCreated(), 1u);

    // Torn down, it forgets the stream: delta frames have nothing to decode
    // from until the next parameter sets, which alone decode nothing.
    decoder.teardown();
    feed({messages[21], messages[22]});
    Bytes parameterSets;
    for (const auto unit :
         protocol::NALUParser::extractNALUnits(protocol::parseFrame(messages[0])->payload)) {
        if (protocol::NALUParser::isParameterSet(unit)) {
            parameterSets.insert(parameterSets.end(), {0, 0, 0, 1});
            parameterSets.insert(parameterSets.end(), unit.begin(), unit.end());
        }
    }
    feed({protocol::packageFrame({.isKeyframe = true, .units = parameterSets})});
    EXPECT_EQ(sink.pictures().size(), 20u);
    EXPECT_EQ(decoder.sessionsCreated(), 2u);
    feed({messages[0], messages[1]});
    EXPECT_EQ(sink.pictures().size(), 22u);
    EXPECT_EQ(decoder.sessionsCreated(), 2u);
}

// The Host's encoder restarted at another size (torn down meanwhile).
TEST_F(H264DecoderTest, NewResolutionRestartsTheSequenceAndReopensTheDecoder) {
    H264Encoder encoder;
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(encoder.setup(320, 240));
    auto messages = encodeFrames(encoder, Pattern::movingGradient, 0, 5, 30);
    EXPECT_GE(timestampOf(messages[0]), 20u) << "the clock starts with the encoder";
    encoder.teardown();
    encoder.setOnEncodedFrame([](Bytes) { FAIL() << "frame from a torn-down encoder"; });
    encoder.encode(makePattern(Pattern::movingGradient, 320, 240, 0), 0ns);
    ASSERT_TRUE(encoder.setup(640, 360));
    const auto wider = encodeFrames(encoder, Pattern::movingGradient, 5, 5, 30);
    ASSERT_EQ(wider.size(), 5u);
    EXPECT_EQ(sequenceOf(wider[0]), 0u);
    EXPECT_EQ(flagsOf(wider[0]), 0x03);
    EXPECT_GE(timestampOf(wider[0]), timestampOf(messages[4]));
    messages.insert(messages.end(), wider.begin(), wider.end());
    feed(messages);

    const auto pictures = sink.pictures();
    ASSERT_EQ(pictures.size(), 10u);
    EXPECT_EQ(pictures[4].picture.width(), 320);
    EXPECT_EQ(pictures[5].picture.width(), 640);
    EXPECT_EQ(pictures[9].picture.height(), 360);
    EXPECT_EQ(decoder.sessionsCreated(), 2u);
}

TEST_F(H264DecoderTest, SurvivesGarbageAndRecoversAtTheNextKeyframe) {
    H264Encoder encoder;
    ASSERT_TRUE(encoder.setup(320, 240));
    const auto good = encodeFrames(encoder, Pattern::scrollingText, 0, 10, 30);
    feed({good.begin(), good.begin() + 5});

    std::mt19937 rng(42);
    std::vector<Bytes> garbage;
    for (int i = 5; i < 10; ++i) // truncated frames
        garbage.emplace_back(good[i].begin(), good[i].begin() + long(good[i].size() / 2));
    // Random payloads, some posing as key frames (headers that do not parse
    // are the frame parser's test).
    for (int i = 0; i < 40; ++i) {
        Bytes message(15 + rng() % 3000);
        for (auto& b : message)
            b = static_cast<std::uint8_t>(rng());
        message[0] = 1;
        message[1] = static_cast<std::uint8_t>(rng() % 4);
        if (i % 3 == 0)
            message.insert(message.begin() + 14, {0, 0, 0, 1, 0x67}); // an SPS start
        garbage.push_back(std::move(message));
    }
    feed(garbage);

    // The decoder keeps going; the next key frame gives a clean picture.
    encoder.forceNextKeyframe();
    const auto recovered = encodeFrames(encoder, Pattern::scrollingText, 10, 3, 30);
    const std::size_t before = sink.pictures().size();
    feed(recovered);
    const auto pictures = sink.pictures();
    ASSERT_EQ(pictures.size(), before + 3);
    const auto reference = makePattern(Pattern::scrollingText, 320, 240, 10);
    EXPECT_GT(lumaPsnr(pictures[before].picture, reference), 30.0);
    EXPECT_EQ(pictures[before].timestampMs, timestampOf(recovered[0]));
}

TEST_F(H264DecoderTest, FullQueueSkipsToTheNextKeyframeInsteadOfDecodingAGap) {
    const auto messages = stream(320, 240, 80, {60});
    std::latch entered(1);
    std::latch release(1);
    bool first = true;
    decoder.setOnDecodedFrame([&](Picture picture, std::uint32_t ts) {
        if (first) {
            first = false;
            entered.count_down();
            release.wait();
        }
        sink.add(std::move(picture), ts);
    });

    decoder.decode(messages[0]);
    entered.wait(); // the decode thread is now stuck in the callback
    for (int i = 1; i < 80; ++i)
        decoder.decode(messages[static_cast<std::size_t>(i)]);
    release.count_down();
    decoder.waitUntilIdle();

    // Frames 1..30 filled the queue, 31..59 were refused, the key frame 60
    // replaced the backlog and 61..79 followed it.
    const auto pictures = sink.pictures();
    ASSERT_EQ(pictures.size(), 21u);
    EXPECT_EQ(pictures[1].timestampMs, timestampOf(messages[60]));
    EXPECT_EQ(pictures[20].timestampMs, timestampOf(messages[79]));
}

} // namespace
} // namespace velmarin::video
