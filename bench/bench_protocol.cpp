// Cost of the wire format on the hot paths: a typical control message each
// way, and packaging / parsing a 100 KB video frame.

#include "protocol/ProtocolEncoder.h"
#include "protocol/VideoFrame.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

using namespace velmarin::protocol;

const MouseEventMessage kMouse{.action = "leftDrag", .x = 0.41234, .y = 0.73321, .button = 0};
const std::string kMouseText = *ProtocolEncoder::encode(kMouse);

void BM_EncodeMouse(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(ProtocolEncoder::encode(kMouse));
}
BENCHMARK(BM_EncodeMouse);

void BM_DecodeMouse(benchmark::State& state) {
    // What the router does with every text: the type, then the record.
    for (auto _ : state) {
        benchmark::DoNotOptimize(ProtocolEncoder::decodeType(kMouseText));
        benchmark::DoNotOptimize(ProtocolEncoder::decode<MouseEventMessage>(kMouseText));
    }
}
BENCHMARK(BM_DecodeMouse);

// A 100 KB IDR as an encoder hands it over: SPS, PPS, then slice data with
// no accidental start codes (emulation prevention guarantees that).
Bytes makeFrame(std::size_t size) {
    std::mt19937 rng(7);
    Bytes frame{0, 0, 0,    1,    0x67, 0x64, 0x00, 0x1F, 0xAC, 0, 0,
                0, 1, 0x68, 0xEE, 0x3C, 0x80, 0,    0,    0,    1, 0x65};
    while (frame.size() < size)
        frame.push_back(static_cast<std::uint8_t>(1 + rng() % 255));
    return frame;
}

void BM_PackageFrame100K(benchmark::State& state) {
    const Bytes annexB = makeFrame(100 * 1024);
    for (auto _ : state)
        benchmark::DoNotOptimize(packageFrame({.isKeyframe = true, .units = annexB}));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * annexB.size()));
}
BENCHMARK(BM_PackageFrame100K);

void BM_PackageFrame100KLengthPrefixed(benchmark::State& state) {
    const Bytes avcc = NALUParser::annexBToAVCC(makeFrame(100 * 1024), true);
    for (auto _ : state) {
        benchmark::DoNotOptimize(packageFrame(
            {.isKeyframe = false, .units = avcc, .format = NalFormat::lengthPrefixed}));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * avcc.size()));
}
BENCHMARK(BM_PackageFrame100KLengthPrefixed);

void BM_ParseFrame100K(benchmark::State& state) {
    const Bytes message = packageFrame({.isKeyframe = true, .units = makeFrame(100 * 1024)});
    for (auto _ : state)
        benchmark::DoNotOptimize(parseFrame(message));
}
BENCHMARK(BM_ParseFrame100K);

} // namespace

BENCHMARK_MAIN();
