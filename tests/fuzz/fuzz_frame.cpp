// Arbitrary bytes as a received frame message and as encoder output: parsing
// and packaging must stay inside the buffers and keep the header honest.

#include "protocol/VideoFrame.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
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

// The plain byte-by-byte start-code scan, to check the fast one against:
// (offset, size) of each unit.
std::vector<std::pair<std::size_t, std::size_t>> referenceUnits(ByteView d) {
    std::vector<std::pair<std::size_t, std::size_t>> units;
    std::size_t start = SIZE_MAX;
    for (std::size_t i = 0; i + 2 < d.size();) {
        const bool four = i + 3 < d.size() && !d[i] && !d[i + 1] && !d[i + 2] && d[i + 3] == 1;
        if (!four && !(!d[i] && !d[i + 1] && d[i + 2] == 1)) {
            ++i;
            continue;
        }
        if (start != SIZE_MAX)
            units.emplace_back(start, i - start);
        i += four ? 4 : 3;
        start = i;
    }
    if (start < d.size())
        units.emplace_back(start, d.size() - start);
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

    const auto found = NALUParser::extractNALUnits(input);
    std::vector<std::pair<std::size_t, std::size_t>> offsets;
    for (const ByteView unit : found)
        offsets.emplace_back(unit.data() - data, unit.size());
    check(offsets == referenceUnits(input));

    // Annex-B → length-prefixed → units gives back the non-empty units.
    std::vector<ByteView> nonEmpty;
    std::copy_if(found.begin(), found.end(), std::back_inserter(nonEmpty),
                 [](ByteView unit) { return !unit.empty(); });
    const Bytes avcc = NALUParser::annexBToAVCC(input, false);
    const auto avccUnits = NALUParser::extractLengthPrefixedUnits(avcc);
    check(std::equal(
        nonEmpty.begin(), nonEmpty.end(), avccUnits.begin(), avccUnits.end(),
        [](ByteView a, ByteView b) { return std::equal(a.begin(), a.end(), b.begin(), b.end()); }));
    return 0;
}
