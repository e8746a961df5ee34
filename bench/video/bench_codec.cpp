// Per-frame cost of the 1080p screen stream on one core: encode time for
// static, scrolling-text and full-motion content at several x264 presets,
// decode time, and bytes per frame. Percentiles come out as counters:
//
//   bench_video --benchmark_counters_tabular=true
//
// Targets for desktop content: encode p50 <= 8 ms and p99 <= 16 ms, decode
// p50 <= 5 ms.

#include "protocol/VideoFrame.h"
#include "support/PatternGenerator.h"
#include "video/DecoderSession.h"
#include "video/H264Encoder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <vector>

namespace {

using namespace velmarin;
using namespace velmarin::video;
using video::testing::Pattern;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 300; // ten seconds at 30 fps, three key frames
constexpr std::int64_t kBitrate = 4'000'000;

const std::vector<std::string> kPresets{"ultrafast", "superfast", "veryfast", "faster"};
const std::vector<std::pair<Pattern, const char*>> kContent{
    {Pattern::staticText, "static"},
    {Pattern::scrollingText, "scrolling"},
    {Pattern::fullMotion, "motion"},
};

// Sixty distinct pictures per content, played forwards then backwards so
// that motion never jumps.
const std::vector<Picture>& pictures(Pattern pattern) {
    static std::map<Pattern, std::vector<Picture>> cache;
    auto& list = cache[pattern];
    if (list.empty()) {
        const int distinct = pattern == Pattern::staticText ? 1 : 60;
        for (int i = 0; i < distinct; ++i)
            list.push_back(video::testing::makePattern(pattern, kWidth, kHeight, i));
        for (int i = distinct - 2; i > 0; --i)
            list.push_back(list[static_cast<std::size_t>(i)]);
    }
    return list;
}

void reportPercentiles(benchmark::State& state, std::vector<double> milliseconds) {
    std::sort(milliseconds.begin(), milliseconds.end());
    const auto at = [&](double q) {
        return milliseconds[static_cast<std::size_t>(q *
                                                     static_cast<double>(milliseconds.size() - 1))];
    };
    state.counters["p50_ms"] = at(0.50);
    state.counters["p99_ms"] = at(0.99);
}

std::vector<protocol::Bytes> encodeAll(benchmark::State* state, const std::string& preset,
                                       Pattern pattern, std::vector<double>* times) {
    EncoderProfile profile = libx264Profile(preset);
    profile.threadCount = 1;
    H264Encoder encoder(profile);
    encoder.updateBitrate(kBitrate);
    if (encoder.setup(kWidth, kHeight)) {
        if (state)
            state->SkipWithError("encoder setup failed");
        return {};
    }
    std::vector<protocol::Bytes> messages;
    encoder.setOnEncodedFrame([&](protocol::Bytes m) { messages.push_back(std::move(m)); });
    const auto& list = pictures(pattern);
    for (int i = 0; i < kFrames; ++i) {
        const auto& picture = list[static_cast<std::size_t>(i) % list.size()];
        const auto start = Clock::now();
        encoder.encode(picture, std::chrono::milliseconds(i * 1000 / 30));
        const std::chrono::duration<double, std::milli> elapsed = Clock::now() - start;
        if (times)
            times->push_back(elapsed.count());
    }
    return messages;
}

void BM_Encode1080p(benchmark::State& state) {
    const auto& preset = kPresets[static_cast<std::size_t>(state.range(0))];
    const auto [pattern, name] = kContent[static_cast<std::size_t>(state.range(1))];
    state.SetLabel(preset + "/" + name);
    std::vector<double> times;
    double bytes = 0;
    std::size_t frames = 0;
    for (auto _ : state) {
        const auto messages = encodeAll(&state, preset, pattern, &times);
        for (const auto& m : messages)
            bytes += static_cast<double>(m.size());
        frames += messages.size();
        double total = 0;
        for (std::size_t i = times.size() - static_cast<std::size_t>(kFrames); i < times.size();
             ++i)
            total += times[i];
        state.SetIterationTime(total / 1000.0 / kFrames); // seconds per frame
    }
    reportPercentiles(state, times);
    state.counters["bytes_per_frame"] = bytes / static_cast<double>(frames);
}
BENCHMARK(BM_Encode1080p)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_Decode1080p(benchmark::State& state) {
    const auto [pattern, name] = kContent[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(std::string(kDefaultX264Preset) + "/" + name);
    const auto messages = encodeAll(nullptr, std::string(kDefaultX264Preset), pattern, nullptr);
    std::vector<double> times;
    for (auto _ : state) {
        DecoderSession session(1);
        int decoded = 0;
        const DecoderSession::Output count = [&](Picture, std::uint32_t) { ++decoded; };
        double total = 0;
        for (const auto& message : messages) {
            const auto start = Clock::now();
            session.decode(message, count);
            const std::chrono::duration<double, std::milli> elapsed = Clock::now() - start;
            times.push_back(elapsed.count());
            total += elapsed.count();
        }
        if (decoded != static_cast<int>(messages.size()))
            state.SkipWithError("frames lost in decoding");
        state.SetIterationTime(total / 1000.0 / static_cast<double>(messages.size()));
    }
    reportPercentiles(state, times);
}
BENCHMARK(BM_Decode1080p)
    ->DenseRange(0, 2)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
