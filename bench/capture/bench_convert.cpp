// BGRX → YUV 4:2:0 conversion of a grabbed screen, at 1:1 (1920 × 1080) and
// scaled (1920 × 1200 → 1728 × 1080): the capture's FrameConverter (libyuv)
// against libswscale, which it replaced.
//
//   bench_capture_convert --benchmark_counters_tabular=true

#include "capture/FrameConverter.h"
#include "video/FFmpegHandles.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <vector>

namespace {

using namespace velmarin;

// Desktop-like content: flat areas, hard edges and some texture.
std::vector<std::uint8_t> screenLike(int width, int height) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
            const bool text = (y % 18 < 12) && ((x * 7 + y * 3) % 11 < 4) && x % 400 < 300;
            p[0] = text ? 20 : static_cast<std::uint8_t>(200 + (x / 64) % 40);
            p[1] = text ? 20 : static_cast<std::uint8_t>(210 - (y / 64) % 30);
            p[2] = text ? 20 : 230;
            p[3] = 0;
        }
    return pixels;
}

// The capture's converter (libyuv): ARGB (its name for B, G, R, A bytes)
// straight to I420, or scaled in ARGB first and converted after.
void libyuvConvert(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const auto pixels = screenLike(width, height);
    const capture::BgraImage image{pixels.data(), width, height, width * 4};
    const auto size = capture::captureSizeFor(width, height);
    capture::FrameConverter converter;
    for (auto _ : state) {
        auto picture = converter.convert(image, size, AV_PIX_FMT_YUV420P);
        benchmark::DoNotOptimize(picture);
    }
}
BENCHMARK(libyuvConvert)->Args({1920, 1080})->Args({1920, 1200})->Unit(benchmark::kMillisecond);

// The same in one pass of libswscale 5.1 (bilinear).
void swscaleConvert(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const auto pixels = screenLike(width, height);
    const auto size = capture::captureSizeFor(width, height);
    const video::SwsContextPtr context(
        sws_getContext(width, height, AV_PIX_FMT_BGR0, size.width, size.height, AV_PIX_FMT_YUV420P,
                       SWS_BILINEAR, nullptr, nullptr, nullptr));
    auto picture = video::Picture::allocate(size.width, size.height, AV_PIX_FMT_YUV420P);
    const std::uint8_t* source[4] = {pixels.data(), nullptr, nullptr, nullptr};
    const int sourceStride[4] = {width * 4, 0, 0, 0};
    std::uint8_t* target[4] = {picture.plane(0), picture.plane(1), picture.plane(2), nullptr};
    const int targetStride[4] = {picture.stride(0), picture.stride(1), picture.stride(2), 0};
    for (auto _ : state)
        benchmark::DoNotOptimize(
            sws_scale(context.get(), source, sourceStride, 0, height, target, targetStride));
}
BENCHMARK(swscaleConvert)->Args({1920, 1080})->Args({1920, 1200})->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
