#include "protocol/NALUParser.h"

#include <cstring>

namespace velmarin::protocol::NALUParser {

std::vector<ByteView> extractNALUnits(ByteView data) {
    std::vector<ByteView> units;
    const std::size_t n = data.size();
    constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::size_t start = none;
    std::size_t i = 0;
    auto emitUntil = [&](std::size_t end) {
        if (start != none)
            units.push_back(data.subspan(start, end - start));
    };
    while (i < n) {
        // Every start code begins with a zero byte: jump straight to the next
        // one. Slice data rarely contains zeros, so this skips most bytes.
        if (data[i] != 0) {
            const void* zero = std::memchr(data.data() + i, 0, n - i);
            if (!zero)
                break;
            i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - data.data());
            continue;
        }
        if (i + 3 < n && data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 0 && data[i + 3] == 1) {
            emitUntil(i);
            start = i + 4;
            i += 4;
        } else if (i + 2 < n && data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            emitUntil(i);
            start = i + 3;
            i += 3;
        } else {
            ++i;
        }
    }
    if (start != none && start < n)
        units.push_back(data.subspan(start));
    return units;
}

Bytes annexBToAVCC(ByteView annexB, bool excludeParameterSets) {
    Bytes out;
    out.reserve(annexB.size() + 16);
    for (const ByteView unit : extractNALUnits(annexB)) {
        if (unit.empty() || (excludeParameterSets && isParameterSet(unit)))
            continue;
        const auto size = static_cast<std::uint32_t>(unit.size());
        out.push_back(static_cast<std::uint8_t>(size >> 24));
        out.push_back(static_cast<std::uint8_t>(size >> 16));
        out.push_back(static_cast<std::uint8_t>(size >> 8));
        out.push_back(static_cast<std::uint8_t>(size));
        out.insert(out.end(), unit.begin(), unit.end());
    }
    return out;
}

std::vector<ByteView> extractLengthPrefixedUnits(ByteView avcc) {
    std::vector<ByteView> units;
    std::size_t offset = 0;
    while (avcc.size() - offset >= 4) {
        const std::uint64_t length = (std::uint64_t{avcc[offset]} << 24) |
                                     (std::uint64_t{avcc[offset + 1]} << 16) |
                                     (std::uint64_t{avcc[offset + 2]} << 8) | avcc[offset + 3];
        if (length > avcc.size() - offset - 4)
            break;
        units.push_back(avcc.subspan(offset + 4, length));
        offset += 4 + length;
    }
    return units;
}

} // namespace velmarin::protocol::NALUParser
