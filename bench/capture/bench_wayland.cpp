// The Wayland capture path against the X11 one in the same run, at 1080p on
// one core: from the moment a changed picture is there (a PipeWire buffer
// from mutter's screen cast; an X damage or pointer event) to the encoded
// frame, as p50 and p99 over 300 frames of the same content (the pointer
// moving over a still desktop); then what an idle Host costs (the capture
// thread waiting for a change that does not come), as processor time.
//
//   bench_wayland_capture
//
// It runs a private headless GNOME session (mutter, PipeWire, WirePlumber)
// next to a private Xvfb, as the tests do.

#include "capture/FrameConverter.h"
#include "capture/X11ScreenSource.h"
#include "capture/wayland/WaylandScreenSource.h"
#include "support/capture/X11Painter.h"
#include "support/wayland/HeadlessWayland.h"
#include "support/x11/XvfbProcess.h"
#include "video/H264Encoder.h"
#include "wayland/MutterRemoteDesktop.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

using namespace velmarin;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 300;

double ms(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The pointer's place in frame `frame`: a circle over the middle.
std::pair<int, int> pointerAt(int frame) {
    const double angle = frame * 0.21;
    return {kWidth / 2 + static_cast<int>(300 * std::cos(angle)),
            kHeight / 2 + static_cast<int>(200 * std::sin(angle))};
}

struct Result {
    std::vector<double> toEncoded;
    int missed = 0;
    double idleShare = 0; // of one core
};

Result run(capture::ScreenSource& source, const std::function<void(int)>& movePointer) {
    Result result;
    capture::FrameConverter converter;
    video::EncoderProfile profile = video::libx264Profile();
    profile.threadCount = 1;
    video::H264Encoder encoder(profile);
    encoder.updateBitrate(4'000'000);
    const auto displays = source.displays();
    if (displays.empty() || !source.start(displays.front()) || !encoder.setup(kWidth, kHeight))
        return result;
    // Whatever the start left pending.
    while (source.waitForChange(Clock::now() + std::chrono::milliseconds(300)))
        (void)source.grab();
    for (int frame = 0; frame < kFrames; ++frame) {
        movePointer(frame);
        if (!source.waitForChange(Clock::now() + std::chrono::seconds(1))) {
            ++result.missed;
            continue;
        }
        const auto there = Clock::now();
        const auto image = source.grab();
        if (!image) {
            ++result.missed;
            continue;
        }
        const auto picture = converter.convert(*image, {kWidth, kHeight}, encoder.preferredFormat());
        encoder.encode(picture, there.time_since_epoch());
        result.toEncoded.push_back(ms(Clock::now() - there));
    }
    // Idle: nothing changes for five seconds.
    while (source.waitForChange(Clock::now() + std::chrono::milliseconds(300)))
        (void)source.grab();
    const double before = processorSeconds();
    const auto idleStart = Clock::now();
    while (Clock::now() - idleStart < std::chrono::seconds(5))
        if (source.waitForChange(Clock::now() + std::chrono::milliseconds(100)))
            (void)source.grab();
    result.idleShare = (processorSeconds() - before) / 5.0;
    encoder.teardown();
    source.stop();
    return result;
}

void report(const char* path, const Result& result) {
    std::printf("%-8s %8.2f %8.2f %7zu %7d %9.2f %%\n", path, percentile(result.toEncoded, 0.5),
                percentile(result.toEncoded, 0.99), result.toEncoded.size(), result.missed,
                result.idleShare * 100);
}

} // namespace

int main() {
    std::printf("1080p, x264 on one thread, %d frames of a pointer moving over a still desktop\n",
                kFrames);
    std::printf("%-8s %8s %8s %7s %7s %11s\n", "path", "p50 ms", "p99 ms", "frames", "missed",
                "idle cpu");

    // Wayland: mutter's screen cast of a 1080p virtual monitor with wev on it.
    {
        testing::HeadlessWayland session(kWidth, kHeight);
        session.startWev();
        auto remote = wayland::MutterRemoteDesktop::open();
        if (!remote) {
            std::fprintf(stderr, "no mutter session: %s\n", remote.error().message.c_str());
            return 1;
        }
        std::shared_ptr<wayland::RemoteDesktopSession> shared(std::move(*remote));
        auto source = capture::WaylandScreenSource::open(shared);
        if (!source) {
            std::fprintf(stderr, "no stream: %s\n", source.error().description().c_str());
            return 1;
        }
        report("wayland", run(**source, [&](int frame) {
                   const auto [x, y] = pointerAt(frame);
                   shared->pointerMotion(x, y);
                   shared->flush();
               }));
    }

    // X11: the same picture size and pointer path on a private Xvfb.
    {
        testing::XvfbProcess x(kWidth, kHeight);
        testing::X11Painter painter(x.display());
        painter.fill(0, 0, kWidth, kHeight, 0x305070);
        painter.fill(640, 300, 640, 480, 0xeeeeee);
        auto source = capture::X11ScreenSource::open(x.display());
        if (!source)
            return 1;
        report("x11", run(**source, [&](int frame) {
                   const auto [px, py] = pointerAt(frame);
                   painter.movePointer(px, py);
               }));
    }
    return 0;
}
