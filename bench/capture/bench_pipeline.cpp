// Per-frame cost of the Host's capture pipeline at 1080p on a private Xvfb:
// grab (MIT-SHM and pointer), convert (BGRX → YUV 4:2:0), encode (x264 on
// one thread), and their total, as p50 and p99 over 300 frames each for a
// static screen (grabbed anyway; in use an unchanged screen is not grabbed
// at all), a scrolling text window and full-screen motion.
//
//   bench_capture_pipeline
//
// Times are wall-clock: the grab's cost is partly the X server's. Target:
// total p50 <= 10 ms, p99 <= 20 ms.

#include "Percentile.h"
#include "capture/FrameConverter.h"
#include "support/capture/X11Painter.h"
#include "capture/X11ScreenSource.h"
#include "support/x11/XvfbProcess.h"
#include "video/H264Encoder.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using velmarin::bench::percentile;

using namespace velmarin;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 300;

// Draws the benchmark's content with a connection of its own.
class Scene {
public:
    explicit Scene(const std::string& display)
        : m_connection(xcb_connect(display.c_str(), nullptr)) {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_root = screen->root;
        m_font = xcb_generate_id(m_connection);
        xcb_open_font(m_connection, m_font, 5, "fixed");
        m_gc = xcb_generate_id(m_connection);
        const std::uint32_t values[] = {0x202020, 0xf0f0f0, m_font,
                                        XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS};
        xcb_create_gc(m_connection, m_gc, m_root,
                      XCB_GC_FOREGROUND | XCB_GC_BACKGROUND | XCB_GC_FONT | XCB_GC_SUBWINDOW_MODE,
                      values);
        m_rowsPerRequest =
            static_cast<int>(std::min<std::uint32_t>(
                                 xcb_get_maximum_request_length(m_connection) * 4 / 2, 8u << 20) /
                             (kWidth * 4));
    }
    ~Scene() { xcb_disconnect(m_connection); }

    // A desktop with a text window of 1200 × 900 pixels.
    void desktop() {
        fill(0, 0, kWidth, kHeight, 0x305070);
        fill(300, 80, 1200, 900, 0xf0f0f0);
        for (int line = 0; line < 900 / kLineHeight; ++line)
            text(line);
        sync();
    }

    // The window's text moves up one line and a new line appears.
    void scroll(int frame) {
        xcb_copy_area(m_connection, m_root, m_root, m_gc, 300, 80 + kLineHeight, 300, 80, 1200,
                      900 - kLineHeight);
        fill(300, 80 + 900 - kLineHeight, 1200, kLineHeight, 0xf0f0f0);
        text(900 / kLineHeight - 1, frame);
        sync();
    }

    // Every pixel changes: a moving colour pattern over the whole screen.
    void motion(int frame) {
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kWidth) * kHeight);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const auto r = static_cast<std::uint32_t>((x + frame * 9) & 0xff);
                const auto g = static_cast<std::uint32_t>((y * 2 + frame * 5) & 0xff);
                const auto b = static_cast<std::uint32_t>(((x ^ y) + frame * 3) & 0xff);
                pixels[static_cast<std::size_t>(y) * kWidth + x] = r << 16 | g << 8 | b;
            }
        for (int y = 0; y < kHeight; y += m_rowsPerRequest) {
            const int rows = std::min(m_rowsPerRequest, kHeight - y);
            xcb_put_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, m_gc, kWidth,
                          static_cast<std::uint16_t>(rows), 0, static_cast<std::int16_t>(y), 0, 24,
                          static_cast<std::uint32_t>(rows * kWidth * 4),
                          reinterpret_cast<const std::uint8_t*>(
                              &pixels[static_cast<std::size_t>(y) * kWidth]));
        }
        sync();
    }

private:
    static constexpr int kLineHeight = 15;

    void fill(int x, int y, int width, int height, std::uint32_t rgb) {
        const std::uint32_t value = rgb;
        xcb_change_gc(m_connection, m_gc, XCB_GC_FOREGROUND, &value);
        const xcb_rectangle_t rect{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                                   static_cast<std::uint16_t>(width),
                                   static_cast<std::uint16_t>(height)};
        xcb_poly_fill_rectangle(m_connection, m_root, m_gc, 1, &rect);
        const std::uint32_t ink = 0x202020;
        xcb_change_gc(m_connection, m_gc, XCB_GC_FOREGROUND, &ink);
    }
    void text(int line, int seed = 0) {
        std::string words;
        for (int i = 0; words.size() < 190; ++i)
            words += std::to_string((line + seed) * 7919 + i * 104729) + " lorem ipsum ";
        words.resize(190);
        xcb_image_text_8(m_connection, static_cast<std::uint8_t>(words.size()), m_root, m_gc, 310,
                         static_cast<std::int16_t>(80 + (line + 1) * kLineHeight - 3),
                         words.c_str());
    }
    void sync() {
        std::free(
            xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }

    xcb_connection_t* m_connection;
    xcb_window_t m_root;
    std::uint32_t m_font;
    std::uint32_t m_gc;
    int m_rowsPerRequest;
};

struct Samples {
    std::vector<double> grab, convert, encode, total;
};

double ms(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

Samples run(capture::ScreenSource& source, const std::function<void(int)>& change) {
    capture::FrameConverter converter;
    video::EncoderProfile profile = video::libx264Profile();
    profile.threadCount = 1; // one core
    video::H264Encoder encoder(profile);
    encoder.updateBitrate(4'000'000);
    if (!encoder.setup(kWidth, kHeight))
        return {};
    Samples samples;
    for (int frame = 0; frame < kFrames; ++frame) {
        change(frame);
        const auto start = Clock::now();
        const auto image = source.grab().value();
        const auto grabbed = Clock::now();
        const auto picture = converter.convert(image, {kWidth, kHeight}, encoder.preferredFormat());
        const auto converted = Clock::now();
        encoder.encode(picture, converted.time_since_epoch());
        const auto encoded = Clock::now();
        samples.grab.push_back(ms(grabbed - start));
        samples.convert.push_back(ms(converted - grabbed));
        samples.encode.push_back(ms(encoded - converted));
        samples.total.push_back(ms(encoded - start));
    }
    encoder.teardown();
    return samples;
}

std::string cpuModel() {
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);)
        if (line.rfind("model name", 0) == 0)
            return line.substr(line.find(':') + 2);
    return "unknown";
}

} // namespace

int main() {
    testing::XvfbProcess x(kWidth, kHeight);
    Scene scene(x.display());
    scene.desktop();
    auto opened = capture::X11ScreenSource::open(x.display());
    if (!opened)
        return 1;
    auto& source = **opened;
    const auto displays = source.displays();
    if (displays.empty() || !source.start(displays.front()))
        return 1;

    std::printf("CPU: %s\n1080p, x264 on one thread, %d frames each; milliseconds\n",
                cpuModel().c_str(), kFrames);
    std::printf("%-14s %-8s %8s %8s\n", "content", "stage", "p50", "p99");
    const std::vector<std::pair<const char*, std::function<void(int)>>> contents{
        {"static", [](int) {}},
        {"scrolling", [&](int frame) { scene.scroll(frame); }},
        {"motion", [&](int frame) { scene.motion(frame); }},
    };
    for (const auto& [name, change] : contents) {
        const Samples samples = run(source, change);
        const std::pair<const char*, const std::vector<double>*> stages[] = {
            {"grab", &samples.grab},
            {"convert", &samples.convert},
            {"encode", &samples.encode},
            {"total", &samples.total}};
        for (const auto& [stage, values] : stages)
            std::printf("%-14s %-8s %8.2f %8.2f\n", name, stage, percentile(*values, 0.5),
                        percentile(*values, 0.99));
    }
    source.stop();
    return 0;
}
