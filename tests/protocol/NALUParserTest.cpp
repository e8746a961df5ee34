#include "protocol/NALUParser.h"

#include <gtest/gtest.h>

namespace velmarin::protocol {
namespace {

std::vector<Bytes> units(const Bytes& stream) {
    std::vector<Bytes> out;
    for (const ByteView unit : NALUParser::extractNALUnits(stream))
        out.emplace_back(unit.begin(), unit.end());
    return out;
}

TEST(NALUParser, SplitsOnFourAndThreeByteStartCodesAndNothingElse) {
    EXPECT_EQ(units({0, 0, 0, 1, 0x67, 0xAA, 0, 0, 1, 0x68, 0xBB, 0, 0, 0, 1, 0x65, 0xCC}),
              (std::vector<Bytes>{{0x67, 0xAA}, {0x68, 0xBB}, {0x65, 0xCC}}));
    // Bytes before the first start code are no unit, nor is a stream without one.
    EXPECT_EQ(units({0xDE, 0xAD, 0, 0, 1, 0x41, 0x9A}), (std::vector<Bytes>{{0x41, 0x9A}}));
    for (const Bytes& none : {Bytes{}, Bytes{0x65, 0x88, 0x84, 0, 0}, Bytes{0, 0, 0, 1}})
        EXPECT_TRUE(units(none).empty());
    // A start code at the very end opens no unit; adjacent ones give an empty one.
    EXPECT_EQ(units({0, 0, 0, 1, 0, 0, 0, 1, 0x65}), (std::vector<Bytes>{{}, {0x65}}));
}

} // namespace
} // namespace velmarin::protocol
