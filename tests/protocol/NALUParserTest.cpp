#include "protocol/NALUParser.h"

#include <gtest/gtest.h>

namespace velmarin::protocol {
namespace {

Bytes toBytes(const std::vector<ByteView>& units, std::size_t index) {
    return Bytes(units.at(index).begin(), units.at(index).end());
}

const Bytes kMixedStream{0, 0, 0, 1, 0x67, 0xAA, 0, 0, 1, 0x68, 0xBB, 0, 0, 0, 1, 0x65, 0xCC};

TEST(NALUParser, SplitsOnFourAndThreeByteStartCodes) {
    const auto units = NALUParser::extractNALUnits(kMixedStream);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(toBytes(units, 0), (Bytes{0x67, 0xAA}));
    EXPECT_EQ(toBytes(units, 1), (Bytes{0x68, 0xBB}));
    EXPECT_EQ(toBytes(units, 2), (Bytes{0x65, 0xCC}));
}

TEST(NALUParser, LeadingBytesAndStreamsWithoutStartCodesYieldNothing) {
    EXPECT_TRUE(NALUParser::extractNALUnits(Bytes{}).empty());
    EXPECT_TRUE(NALUParser::extractNALUnits(Bytes{0x65, 0x88, 0x84, 0, 0}).empty());

    const Bytes leading{0xDE, 0xAD, 0, 0, 1, 0x41, 0x9A};
    const auto units = NALUParser::extractNALUnits(leading);
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(toBytes(units, 0), (Bytes{0x41, 0x9A}));

    // A start code at the very end opens no unit; adjacent ones give an empty one.
    EXPECT_TRUE(NALUParser::extractNALUnits(Bytes{0, 0, 0, 1}).empty());
    const Bytes twoStartCodes{0, 0, 0, 1, 0, 0, 0, 1, 0x65};
    const auto adjacent = NALUParser::extractNALUnits(twoStartCodes);
    ASSERT_EQ(adjacent.size(), 2u);
    EXPECT_TRUE(adjacent[0].empty());
}

} // namespace
} // namespace velmarin::protocol
