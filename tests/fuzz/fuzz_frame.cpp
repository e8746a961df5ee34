// Arbitrary bytes as a received frame message and as encoder output: parsing
// and packaging must stay inside the buffers and keep the header honest.

#include "protocol/VideoFrame.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

using namespace velmarin::protocol;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

std::uint32_t payloadSizeOf(const Bytes& message) {
    return (std::uint32_t{message[10]} << 24) | (std::uint32_t{message[11]} << 16) |
           (std::uint32_t{message[12]} << 8) | message[13];
}

// The plain byte-by-byte start-code scan, to check the fast one against.
std::vector<std::pair<std::size_t, std::size_t>> referenceUnits(ByteView d) {
    std::vector<std::pair<std::size_t, std::size_t>> units;
    const std::size_t n = d.size();
    std::size_t i = 0, start = SIZE_MAX;
    while (i < n) {
        std::size_t codeLength = 0;
        if (i + 3 < n && !d[i] && !d[i + 1] && !d[i + 2] && d[i + 3] == 1)
            codeLength = 4;
        else if (i + 2 < n && !d[i] && !d[i + 1] && d[i + 2] == 1)
            codeLength = 3;
        if (!codeLength) {
            ++i;
            continue;
        }
        if (start != SIZE_MAX)
            units.emplace_back(start, i - start);
        start = i + codeLength;
        i += codeLength;
    }
    if (start != SIZE_MAX && start < n)
        units.emplace_back(start, n - start);
    return units;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView input(data, size);

    if (const auto frame = parseFrame(input))
        check(frame->payload.size() == size - VideoFrameHeader::kSize);

    const bool keyframe = size > 0 && (data[0] & 1);
    for (const NalFormat format : {NalFormat::annexB, NalFormat::lengthPrefixed}) {
        const Bytes message = packageFrame({.isKeyframe = keyframe,
                                            .parameterSets = {input.first(size / 8)},
                                            .units = input,
                                            .format = format,
                                            .timestampMs = 1,
                                            .sequenceNumber = 2});
        check(message.size() >= VideoFrameHeader::kSize);
        check(payloadSizeOf(message) == message.size() - VideoFrameHeader::kSize);
        // One parameter set is always given, so exactly keyframes carry the flag.
        check(((message[1] & VideoFrameHeader::kFlagParameterSets) != 0) == keyframe);
        check(((message[1] & VideoFrameHeader::kFlagKeyframe) != 0) == keyframe);
    }

    const auto expected = referenceUnits(input);
    const auto found = NALUParser::extractNALUnits(input);
    check(found.size() == expected.size());
    for (std::size_t k = 0; k < found.size(); ++k) {
        check(found[k].data() == data + expected[k].first);
        check(found[k].size() == expected[k].second);
    }

    // Annex-B → length-prefixed → units gives back the non-empty units.
    const Bytes avcc = NALUParser::annexBToAVCC(input, false);
    const auto annexUnits = NALUParser::extractNALUnits(input);
    const auto avccUnits = NALUParser::extractLengthPrefixedUnits(avcc);
    std::size_t j = 0;
    for (const ByteView unit : annexUnits) {
        if (unit.empty())
            continue;
        check(j < avccUnits.size());
        check(avccUnits[j].size() == unit.size() &&
              std::equal(unit.begin(), unit.end(), avccUnits[j].begin()));
        ++j;
    }
    check(j == avccUnits.size());
    return 0;
}
