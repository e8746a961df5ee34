// The Host's capture on a Wayland desktop against X11, in one run on the
// same picture, at 1080p: a private headless mutter (with wev on screen)
// casts its monitor through PipeWire; a private Xvfb shows the first picture
// of that cast. On both the pointer moves every frame, and each frame is
// taken, converted and encoded (x264 on one thread), 300 times: p50 and p99
// in milliseconds. On Wayland "arrival" is from the motion sent to the frame
// there (compositor, PipeWire and the stream's copy out of the buffer);
// "grab" then only takes that frame. Then the CPU use of an idle
// `velmarin host` with a `velmarin view` connected, on each desktop, over
// 20 seconds.
//
//   bench_capture_wayland

#include "Percentile.h"
#include "capture/FrameConverter.h"
#include "capture/X11ScreenSource.h"
#include "capture/wayland/WaylandScreenSource.h"
#include "support/host/HostProcess.h"
#include "support/relay/RelayProcess.h"
#include "support/wayland/HeadlessWayland.h"
#include "support/x11/XvfbProcess.h"
#include "video/H264Encoder.h"
#include "wayland/MutterRemoteDesktop.h"

#include <QCoreApplication>
#include <QPoint>
#include <QProcess>
#include <QThread>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using velmarin::bench::percentile;

using namespace velmarin;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 300;

struct Samples {
    std::vector<double> arrival, grab, convert, encode, total;
};

double ms(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The pointer goes round a circle, one step per frame, in the corner away
// from wev's window: wev shows no pointer, so over it nothing changes.
QPoint pointerAt(int frame) {
    return {1650 + static_cast<int>(150 * std::cos(frame * 0.1)),
            850 + static_cast<int>(150 * std::sin(frame * 0.1))};
}

// `move` moves the pointer and returns once the source has the new picture
// (false: none came).
Samples run(capture::ScreenSource& source, const std::function<bool(int)>& move) {
    capture::FrameConverter converter;
    video::EncoderProfile profile = video::libx264Profile();
    profile.threadCount = 1;
    video::H264Encoder encoder(profile);
    encoder.updateBitrate(4'000'000);
    if (!encoder.setup(kWidth, kHeight))
        return {};
    Samples samples;
    for (int frame = 0; frame < kFrames; ++frame) {
        const auto sent = Clock::now();
        if (!move(frame))
            continue;
        const auto start = Clock::now();
        const auto image = source.grab();
        if (!image)
            continue;
        const auto grabbed = Clock::now();
        const auto picture =
            converter.convert(*image, {kWidth, kHeight}, encoder.preferredFormat());
        const auto converted = Clock::now();
        encoder.encode(picture, converted.time_since_epoch());
        const auto encoded = Clock::now();
        samples.arrival.push_back(ms(start - sent));
        samples.grab.push_back(ms(grabbed - start));
        samples.convert.push_back(ms(converted - grabbed));
        samples.encode.push_back(ms(encoded - converted));
        samples.total.push_back(ms(encoded - start));
    }
    encoder.teardown();
    return samples;
}

void print(const char* desktop, const Samples& samples) {
    const std::pair<const char*, const std::vector<double>*> stages[] = {
        {"arrival", &samples.arrival},
        {"grab", &samples.grab},
        {"convert", &samples.convert},
        {"encode", &samples.encode},
        {"total", &samples.total}};
    for (const auto& [stage, values] : stages)
        std::printf("%-8s %-8s %8.2f %8.2f\n", desktop, stage, percentile(*values, 0.5),
                    percentile(*values, 0.99));
    std::printf("%-8s frames   %8zu of %d\n", desktop, samples.total.size(), kFrames);
}

// Shows `image` on the X display and returns the connection for the pointer.
xcb_connection_t* showOnX(const std::string& display, const capture::BgraImage& image) {
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_gcontext_t gc = xcb_generate_id(connection);
    xcb_create_gc(connection, gc, screen->root, 0, nullptr);
    const int rowsPerRequest = static_cast<int>(
        std::min<std::uint32_t>(xcb_get_maximum_request_length(connection) * 4 / 2, 8u << 20) /
        (kWidth * 4));
    std::vector<std::uint8_t> rows;
    for (int y = 0; y < kHeight; y += rowsPerRequest) {
        const int count = std::min(rowsPerRequest, kHeight - y);
        rows.clear();
        for (int row = y; row < y + count; ++row)
            rows.insert(rows.end(), image.data + std::ptrdiff_t(row) * image.stride,
                        image.data + std::ptrdiff_t(row) * image.stride + kWidth * 4);
        xcb_put_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, gc, kWidth,
                      static_cast<std::uint16_t>(count), 0, static_cast<std::int16_t>(y), 0, 24,
                      static_cast<std::uint32_t>(rows.size()), rows.data());
    }
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    return connection;
}

long cpuTicks(qint64 pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    long ticks = 0;
    for (int i = 1; i <= 15 && stat >> field; ++i)
        if (i == 14 || i == 15)
            ticks += std::stol(field);
    return ticks;
}

// Percent of one core an idle Host on `display` ("" for none) uses with a
// Viewer connected.
double idleHostCpu(const std::string& display, const testing::RelayProcess& relay,
                   const QStringList& hostEnvironment) {
    for (const QString& entry : hostEnvironment)
        ::setenv(entry.section('=', 0, 0).toUtf8().constData(),
                 entry.section('=', 1).toUtf8().constData(), 1);
    testing::HostProcess host(display, relay);
    for (const QString& entry : hostEnvironment)
        ::unsetenv(entry.section('=', 0, 0).toUtf8().constData());
    const auto credentials = host.readCredentials();
    if (credentials.password.isEmpty()) {
        std::fprintf(
            stderr, "the Host did not start:\n%s\n",
            (host.transcript() + host.process().readAllStandardError()).toUtf8().constData());
        return -1;
    }
    QProcess view;
    view.setProcessEnvironment(testing::velmarinEnvironment(display, relay));
    view.start(QStringLiteral(VELMARIN_BINARY),
               {"view", credentials.id, credentials.password, "--seconds", "30"});
    QThread::sleep(5); // connected and greeted
    const long before = cpuTicks(host.process().processId());
    QThread::sleep(20);
    const long after = cpuTicks(host.process().processId());
    view.kill();
    view.waitForFinished();
    return 100.0 * static_cast<double>(after - before) / static_cast<double>(sysconf(_SC_CLK_TCK)) /
           20.0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::HeadlessWayland desktop(kWidth, kHeight);
    desktop.startWev();
    auto remote = wayland::MutterRemoteDesktop::open();
    if (!remote) {
        std::fprintf(stderr, "%s\n", remote.error().message.c_str());
        return 1;
    }
    std::shared_ptr<wayland::RemoteDesktopSession> session = std::move(*remote);
    auto cast = capture::WaylandScreenSource::open(session);
    if (!cast || (*cast)->displays().empty() || !(*cast)->start((*cast)->displays().front()))
        return 1;
    capture::ScreenSource& wayland = **cast;
    wayland.waitForChange(Clock::now() + std::chrono::seconds(2));
    const auto first = wayland.grab();
    if (!first || first->width != kWidth || first->height != kHeight)
        return 1;

    testing::XvfbProcess x(kWidth, kHeight);
    xcb_connection_t* pointer = showOnX(x.display(), *first);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(pointer)).data->root;
    auto opened = capture::X11ScreenSource::open(x.display());
    if (!opened || (*opened)->displays().empty() ||
        !(*opened)->start((*opened)->displays().front()))
        return 1;
    capture::ScreenSource& x11 = **opened;

    std::ifstream info("/proc/cpuinfo");
    std::string model = "unknown";
    for (std::string line; std::getline(info, line);)
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    std::printf("CPU: %s\n1080p, the pointer moving over the same desktop, x264 on one thread, "
                "%d frames each; milliseconds\n",
                model.c_str(), kFrames);
    std::printf("%-8s %-8s %8s %8s\n", "desktop", "stage", "p50", "p99");
    print("wayland", run(wayland, [&](int frame) {
              const QPoint at = pointerAt(frame);
              session->pointerMotion(session->monitors().front().node, at.x(), at.y());
              session->flush();
              return wayland.waitForChange(Clock::now() + std::chrono::seconds(1));
          }));
    print("x11", run(x11, [&](int frame) {
              const QPoint at = pointerAt(frame);
              xcb_warp_pointer(pointer, XCB_NONE, root, 0, 0, 0, 0,
                               static_cast<std::int16_t>(at.x()),
                               static_cast<std::int16_t>(at.y()));
              std::free(xcb_get_input_focus_reply(pointer, xcb_get_input_focus(pointer), nullptr));
              return true;
          }));
    wayland.stop();
    x11.stop();
    cast->reset();
    session.reset();

    testing::RelayProcess relay;
    const double waylandIdle =
        idleHostCpu("", relay, {"XDG_SESSION_TYPE=wayland", "WAYLAND_DISPLAY=wl-velmarin"});
    const double x11Idle = idleHostCpu(x.display(), relay, {});
    std::printf("Idle Host with a Viewer connected, over 20 s: wayland %.2f %%, x11 %.2f %% of "
                "one core\n",
                waylandIdle, x11Idle);
    xcb_disconnect(pointer);
    return 0;
}
