// The Viewer's per-picture costs at 1080p:
//   - GUI-thread time to show a decoded picture (hand-over, texture upload,
//     YUV shader, finished drawing) in the OpenGL and software widgets;
//   - decode-to-display latency: from the decoder handing a picture out to
//     the widget having drawn it, with the real decoder fed at 30 fps;
//   - recording cost per picture (encode and mux), in wall time and in CPU
//     time of the whole process (the recording encoder uses several
//     threads).
//
//   bench_viewer --benchmark_counters_tabular=true
//
// It starts its own Xvfb; OpenGL there is Mesa's llvmpipe, which draws on
// the CPU, so the OpenGL figures are an upper bound for a machine with a GPU.
// Targets: GUI thread < 2 ms per picture, decode-to-display p50 < 8 ms.

#include "Percentile.h"
#include "support/video/PatternGenerator.h"
#include "support/x11/XvfbProcess.h"
#include "ui/viewer/GLDisplayWidget.h"
#include "ui/viewer/RemoteDisplayBridge.h"
#include "ui/viewer/SoftwareDisplayWidget.h"
#include "ui/viewer/VideoRenderer.h"
#include "video/H264Decoder.h"
#include "video/H264Encoder.h"
#include "video/playback/MovieWriter.h"

#include <QApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QTemporaryDir>
#include <QWindow>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using velmarin::bench::percentile;

using namespace velmarin;
using video::testing::Pattern;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

double cpuMilliseconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

void report(benchmark::State& state, const char* name, const std::vector<double>& values) {
    state.counters[std::string(name) + "_p50_ms"] = percentile(values, 0.5);
    state.counters[std::string(name) + "_p99_ms"] = percentile(values, 0.99);
}

std::vector<video::Picture> pictures(int count) {
    std::vector<video::Picture> out;
    for (int i = 0; i < count; ++i)
        out.push_back(video::testing::makePattern(Pattern::scrollingText, kWidth, kHeight, i));
    return out;
}

// Draws the widget now, on this thread, including the GL work (an update()
// would only schedule it).
class BenchGLWidget : public ui::GLDisplayWidget {
public:
    using ui::GLDisplayWidget::GLDisplayWidget;
    void drawNow() {
        makeCurrent();
        paintGL();
        context()->functions()->glFinish();
        doneCurrent();
    }
};

void drawNow(QWidget& widget) {
    if (auto* gl = dynamic_cast<BenchGLWidget*>(&widget))
        gl->drawNow();
    else
        widget.repaint();
}

std::unique_ptr<QWidget> makeWidget(bool openGL, ui::RemoteDisplayBridge& bridge) {
    std::unique_ptr<QWidget> widget;
    if (openGL)
        widget = std::make_unique<BenchGLWidget>(bridge);
    else
        widget = std::make_unique<ui::SoftwareDisplayWidget>(bridge);
    widget->resize(1280, 720);
    widget->show();
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline &&
           !(widget->windowHandle() && widget->windowHandle()->isExposed()))
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    // The first paint creates the GL context and the shader.
    if (auto* gl = dynamic_cast<BenchGLWidget*>(widget.get()))
        gl->grabFramebuffer();
    return widget;
}

void BM_ShowPicture(benchmark::State& state) {
    const bool openGL = state.range(0) == 1;
    ui::RemoteDisplayBridge bridge;
    const auto widget = makeWidget(openGL, bridge);
    const auto frames = pictures(30);
    std::vector<double> wall, cpu;
    std::size_t i = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const double cpuStart = cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID);
        bridge.displayFrame(frames[i++ % frames.size()]);
        drawNow(*widget);
        const double elapsed =
            std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        wall.push_back(elapsed);
        cpu.push_back(cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID) - cpuStart);
        state.SetIterationTime(elapsed / 1e3);
    }
    report(state, "gui_wall", wall);
    report(state, "gui_cpu", cpu);
    state.SetLabel(openGL ? "OpenGL (llvmpipe)" : "software");
}
BENCHMARK(BM_ShowPicture)
    ->Arg(1)
    ->Arg(0)
    ->Iterations(200)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_DecodeToDisplay(benchmark::State& state) {
    const bool openGL = state.range(0) == 1;
    video::H264Encoder encoder;
    if (!encoder.setup(kWidth, kHeight, AV_PIX_FMT_YUV420P)) {
        state.SkipWithError("encoder setup failed");
        return;
    }
    std::vector<protocol::Bytes> messages;
    encoder.setOnEncodedFrame(
        [&](protocol::Bytes message) { messages.push_back(std::move(message)); });
    const auto source = pictures(150);
    for (std::size_t i = 0; i < source.size(); ++i)
        encoder.encode(source[i], std::chrono::milliseconds(33 * i));

    ui::RemoteDisplayBridge bridge;
    const auto widget = makeWidget(openGL, bridge);
    ui::VideoRenderer renderer(bridge);
    std::mutex mutex;
    std::map<const AVFrame*, Clock::time_point> decodedAt;
    std::vector<double> latency;
    video::H264Decoder decoder;
    decoder.setOnDecodedFrame([&](video::Picture picture, std::uint32_t) {
        {
            const std::lock_guard lock(mutex);
            decodedAt[picture.avFrame()] = Clock::now();
        }
        renderer.render(picture);
    });
    bridge.onFrameDisplayed = [&] {
        drawNow(*widget);
        const auto now = Clock::now();
        const std::lock_guard lock(mutex);
        if (auto it = decodedAt.find(bridge.latestFrame().avFrame()); it != decodedAt.end()) {
            latency.push_back(std::chrono::duration<double, std::milli>(now - it->second).count());
            decodedAt.erase(it);
        }
    };

    for (auto _ : state) {
        std::atomic<bool> done{false};
        std::thread feeder([&] {
            auto next = Clock::now();
            for (const auto& message : messages) {
                decoder.decode(message);
                next += std::chrono::microseconds(33'333);
                std::this_thread::sleep_until(next);
            }
            decoder.waitUntilIdle();
            done = true;
        });
        while (!done)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        feeder.join();
        QApplication::processEvents();
    }
    report(state, "latency", latency);
    state.counters["shown"] = static_cast<double>(latency.size());
    state.SetLabel(openGL ? "OpenGL (llvmpipe)" : "software");
}
BENCHMARK(BM_DecodeToDisplay)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond);

void BM_RecordPicture(benchmark::State& state) {
    const auto pattern = static_cast<Pattern>(state.range(0));
    QTemporaryDir dir;
    auto created =
        video::MovieWriter::create(dir.filePath("bench.mp4").toStdString(), kWidth, kHeight);
    if (!created) {
        state.SkipWithError(created.error().description.c_str());
        return;
    }
    auto& writer = **created;
    std::vector<video::Picture> frames;
    for (int i = 0; i < 60; ++i)
        frames.push_back(video::testing::makePattern(pattern, kWidth, kHeight, i));
    std::vector<double> wall, cpu;
    std::int64_t i = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const double cpuStart = cpuMilliseconds(CLOCK_PROCESS_CPUTIME_ID);
        static_cast<void>(writer.write(frames[static_cast<std::size_t>(i) % frames.size()],
                                       std::chrono::milliseconds(33 * i)));
        ++i;
        const double elapsed =
            std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        wall.push_back(elapsed);
        cpu.push_back(cpuMilliseconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart);
        state.SetIterationTime(elapsed / 1e3);
    }
    static_cast<void>(writer.finish());
    report(state, "record_wall", wall);
    report(state, "record_cpu", cpu);
    state.SetLabel(pattern == Pattern::scrollingText ? "scrolling text" : "full motion");
}
BENCHMARK(BM_RecordPicture)
    ->Arg(static_cast<int>(Pattern::scrollingText))
    ->Arg(static_cast<int>(Pattern::fullMotion))
    ->Iterations(300)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    QTemporaryDir runtime;
    ::setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 1);
    velmarin::testing::XvfbProcess xvfb(1920, 1080);
    ::setenv("DISPLAY", xvfb.display().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication application(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
