// Per-frame cost of the 1080p screen stream on one core: encode time for
// static, scrolling-text and full-motion content at several x264 presets,
// decode time, and bytes per frame. Percentiles come out as counters:
//
//   bench_video --benchmark_counters_tabular=true
//
// Times are the CPU time of the calling thread (the encoder and decoder run
// single-threaded here), so other processes on a shared machine do not
// inflate them; cache and memory-bandwidth contention still can.
//
// Targets for desktop content: encode p50 <= 8 ms and p99 <= 16 ms, decode
// p50 <= 5 ms.

#include "protocol/VideoFrame.h"
#include "support/video/PatternGenerator.h"
#include "video/DecoderSession.h"
#include "video/H264Encoder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <map>
#include <vector>

namespace {

using namespace velmarin;
using namespace velmarin::video;
using video::testing::Pattern;

// CPU time of this thread, in milliseconds.
double threadMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 300; // ten seconds at 30 fps, three key frames
constexpr std::int64_t kBitrate = 4'000'000;

// x264 set-ups compared: the chosen one (ultrafast with CABAC and the 8x8
// transform) and the plain speed presets on either side of it.
struct Variant {
    const char* label;
    const char* preset;
    const char* x264Params;
};
const std::vector<Variant> kVariants{
    {"ultrafast", "ultrafast", "scenecut=0"},
    {"chosen", kDefaultX264Preset.data(), kDefaultX264Params.data()},
    {"superfast", "superfast", "scenecut=0"},
    {"veryfast", "veryfast", "scenecut=0"},
};

EncoderProfile profileFor(const Variant& variant) {
    EncoderProfile profile = libx264Profile(variant.preset, variant.x264Params);
    profile.threadCount = 1;
    return profile;
}

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

std::vector<protocol::Bytes> encodeAll(benchmark::State* state, const EncoderProfile& profile,
                                       Pattern pattern, std::vector<double>* times) {
    H264Encoder encoder(profile);
    encoder.updateBitrate(kBitrate);
    if (!encoder.setup(kWidth, kHeight)) {
        if (state)
            state->SkipWithError("encoder setup failed");
        return {};
    }
    std::vector<protocol::Bytes> messages;
    encoder.setOnEncodedFrame([&](protocol::Bytes m) { messages.push_back(std::move(m)); });
    const auto& list = pictures(pattern);
    for (int i = 0; i < kFrames; ++i) {
        const auto& picture = list[static_cast<std::size_t>(i) % list.size()];
        const double start = threadMilliseconds();
        encoder.encode(picture, std::chrono::milliseconds(i * 1000 / 30));
        if (times)
            times->push_back(threadMilliseconds() - start);
    }
    return messages;
}

// Mean luma PSNR of the decoded stream against its source: what the
// bytes bought.
double meanPsnr(const std::vector<protocol::Bytes>& messages, Pattern pattern) {
    const auto& list = pictures(pattern);
    DecoderSession session(1);
    double sum = 0;
    std::size_t index = 0;
    const DecoderSession::Output compare = [&](Picture decoded, std::uint32_t) {
        sum += video::testing::lumaPsnr(decoded, list[index % list.size()]);
        ++index;
    };
    for (const auto& message : messages)
        session.decode(message, compare);
    return index ? sum / static_cast<double>(index) : 0;
}

void BM_Encode1080p(benchmark::State& state) {
    const auto& variant = kVariants[static_cast<std::size_t>(state.range(0))];
    const auto [pattern, name] = kContent[static_cast<std::size_t>(state.range(1))];
    state.SetLabel(std::string(variant.label) + "/" + name);
    std::vector<protocol::Bytes> last;
    std::vector<double> times;
    double bytes = 0;
    std::size_t frames = 0;
    for (auto _ : state) {
        const auto messages = encodeAll(&state, profileFor(variant), pattern, &times);
        for (const auto& m : messages)
            bytes += static_cast<double>(m.size());
        frames += messages.size();
        double total = 0;
        for (std::size_t i = times.size() - static_cast<std::size_t>(kFrames); i < times.size();
             ++i)
            total += times[i];
        state.SetIterationTime(total / 1000.0 / kFrames); // seconds per frame
        last = messages;
    }
    reportPercentiles(state, times);
    state.counters["psnr_db"] = meanPsnr(last, pattern);
    state.counters["bytes_per_frame"] = bytes / static_cast<double>(frames);
}
BENCHMARK(BM_Encode1080p)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_Decode1080p(benchmark::State& state) {
    const auto [pattern, name] = kContent[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(name);
    EncoderProfile profile = libx264Profile();
    profile.threadCount = 1;
    const auto messages = encodeAll(nullptr, profile, pattern, nullptr);
    std::vector<double> times;
    for (auto _ : state) {
        DecoderSession session(1);
        int decoded = 0;
        const DecoderSession::Output count = [&](Picture, std::uint32_t) { ++decoded; };
        double total = 0;
        for (const auto& message : messages) {
            const double start = threadMilliseconds();
            session.decode(message, count);
            const double elapsed = threadMilliseconds() - start;
            times.push_back(elapsed);
            total += elapsed;
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
