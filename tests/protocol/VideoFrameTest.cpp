#include "protocol/VideoFrame.h"

#include <gtest/gtest.h>

namespace velmarin::protocol {
namespace {

Bytes header(const Bytes& message) {
    return Bytes(message.begin(), message.begin() + VideoFrameHeader::kSize);
}

Bytes payload(const Bytes& message) {
    return Bytes(message.begin() + VideoFrameHeader::kSize, message.end());
}

TEST(PackageFrame, AnnexBInputIsNormalisedAndInBandParameterSetsLead) {
    // What libx264 hands out for an IDR: AUD, SPS, PPS, SEI, slice, with a
    // 3-byte start code thrown in.
    const Bytes annexB{0,    0, 0, 1, 0x09, 0xF0, 0, 0, 0, 1, 0x67, 0x64, 0, 0, 1, 0x68,
                       0xEE, 0, 0, 1, 0x06, 0x05, 0, 0, 0, 1, 0x65, 0x88, 0, 0, 0, 1};
    const Bytes key = packageFrame({.isKeyframe = true,
                                    .units = annexB,
                                    .timestampMs = 0x01020304,
                                    .sequenceNumber = 0xA0B0C0D0});
    // Version, flags (key frame, parameter sets), then big-endian time stamp,
    // sequence number and payload size.
    EXPECT_EQ(header(key), (Bytes{0x01, 0x03, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0, 0x00,
                                  0x00, 0x00, 30}));
    EXPECT_EQ(payload(key),
              (Bytes{0, 0,    0,    1, 0x67, 0x64, 0, 0,    0,    1, 0x68, 0xEE, 0, 0,    0,
                     1, 0x09, 0xF0, 0, 0,    0,    1, 0x06, 0x05, 0, 0,    0,    1, 0x65, 0x88}));

    // The same units on a delta frame stay where they are.
    const Bytes delta = packageFrame({.isKeyframe = false, .units = annexB});
    EXPECT_EQ(delta[1], 0x00);
    EXPECT_EQ(payload(delta)[4], 0x09);
    // A key frame without parameter sets says so.
    EXPECT_EQ(packageFrame({.isKeyframe = true, .units = Bytes{0, 0, 1, 0x65, 0x88}})[1], 0x01);
}

TEST(PackageFrame, TimestampsWrapModulo32Bits) {
    using namespace std::chrono;
    EXPECT_EQ(frameTimestampMs(milliseconds(1500) + microseconds(999)), 1500u);
    EXPECT_EQ(frameTimestampMs(milliseconds(4294967296LL + 7)), 7u);
    EXPECT_EQ(frameTimestampMs(nanoseconds(-5)), 0u);
}

TEST(ParseFrame, RoundTripsTrustsTheRealLengthAndDropsShortOrForeignMessages) {
    const Bytes units{0, 0, 0, 1, 0x67, 0x64, 0x00, 0x1F, 0, 0, 0, 1, 0x65, 0x11, 0x22};
    Bytes message = packageFrame(
        {.isKeyframe = true, .units = units, .timestampMs = 123456, .sequenceNumber = 42});
    message[10] = 0xFF; // payloadSize now claims ~4 GB
    message.push_back(0x33);

    const auto frame = parseFrame(message);
    ASSERT_TRUE(frame);
    EXPECT_TRUE(frame->isKeyframe);
    EXPECT_TRUE(frame->hasParameterSets);
    EXPECT_EQ(frame->timestampMs, 123456u);
    EXPECT_EQ(frame->sequenceNumber, 42u);
    EXPECT_EQ(Bytes(frame->payload.begin(), frame->payload.end()),
              (Bytes{0, 0, 0, 1, 0x67, 0x64, 0x00, 0x1F, 0, 0, 0, 1, 0x65, 0x11, 0x22, 0x33}));
    const auto delta = parseFrame(packageFrame({.isKeyframe = false, .units = Bytes{0, 0, 1, 1}}));
    ASSERT_TRUE(delta);
    EXPECT_FALSE(delta->isKeyframe || delta->hasParameterSets);

    EXPECT_FALSE(parseFrame(header(message))); // no payload
    EXPECT_FALSE(parseFrame(Bytes{}));
    EXPECT_FALSE(parseFrame(Bytes(13, 1)));
    message[0] = 2; // a version we do not know
    EXPECT_FALSE(parseFrame(message));
}

} // namespace
} // namespace velmarin::protocol
