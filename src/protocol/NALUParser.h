#pragma once

// H.264 NAL unit helpers for Annex-B (start-code delimited) and
// length-prefixed (4-byte big-endian) streams.

#include <cstdint>
#include <span>
#include <vector>

namespace velmarin::protocol {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

namespace NALUParser {

inline constexpr std::uint8_t kTypeSPS = 7;
inline constexpr std::uint8_t kTypePPS = 8;

// Low five bits of the first byte; 0 for an empty unit.
inline std::uint8_t unitType(ByteView unit) {
    return unit.empty() ? 0 : static_cast<std::uint8_t>(unit[0] & 0x1f);
}

inline bool isParameterSet(ByteView unit) {
    const auto type = unitType(unit);
    return type == kTypeSPS || type == kTypePPS;
}

// The units of an Annex-B buffer, without their start codes, in stream order.
// Both 4-byte and 3-byte start codes are recognised (the 4-byte one first);
// bytes before the first start code are dropped; two adjacent start codes
// yield an empty unit, which callers skip. The views point into `annexB`.
std::vector<ByteView> extractNALUnits(ByteView annexB);

// The same units, each behind its length as a 4-byte big-endian integer;
// empty units are skipped, and SPS/PPS too when `excludeParameterSets`.
Bytes annexBToAVCC(ByteView annexB, bool excludeParameterSets);

// Splits a length-prefixed buffer into its units. A unit whose length runs
// past the end ends the walk; what came before it is kept. Zero-length units
// are kept (as empty views).
std::vector<ByteView> extractLengthPrefixedUnits(ByteView avcc);

} // namespace NALUParser
} // namespace velmarin::protocol
