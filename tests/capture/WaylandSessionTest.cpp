// Capture and input in a real headless GNOME Wayland session, wev the client
// on screen: straight through mutter's own services, and through the desktop
// portal (velmarin_test_portal in front of mutter), which hands out the
// PipeWire connection and keeps a restore token that spares the person the
// dialog next time.

#include "capture/wayland/WaylandScreenSource.h"
#include "input/KeyCodeTable.h"
#include "input/WaylandInputSink.h"
#include "support/Shell.h"
#include "support/WaitUntil.h"
#include "support/wayland/HeadlessWayland.h"
#include "wayland/MutterRemoteDesktop.h"
#include "wayland/PortalRemoteDesktop.h"
#include "wayland/RemoteDesktopProvider.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

namespace velmarin {
namespace {

using namespace std::chrono_literals;
using capture::BgraImage;
using capture::WaylandScreenSource;
using wayland::PortalRemoteDesktop;

// Two monitors side by side.
constexpr int screenWidth = 1280, screenHeight = 800, secondWidth = 1024, secondHeight = 768;
const std::vector<std::pair<int, int>> kMonitors{{screenWidth, screenHeight},
                                                 {secondWidth, secondHeight}};

// Where wev's light grey squares are in a picture.
struct Box {
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
    long count = 0;
    QPoint centre() const { return {(left + right) / 2, (top + bottom) / 2}; }
};

Box wevSquares(const BgraImage& image) {
    Box box;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* p = image.data + std::ptrdiff_t(y) * image.stride + x * 4;
            if (p[0] == 0xEE && p[1] == 0xEE && p[2] == 0xEE)
                box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x),
                       std::max(box.bottom, y), box.count + 1};
        }
    return box;
}

std::vector<std::uint8_t> pixels(const BgraImage& image) {
    return {image.data, image.data + std::ptrdiff_t(image.stride) * image.height};
}

// Clicks at `at` on the first monitor, turns the wheel a step and types A;
// whether wev reports each of them (and `spot`, when given).
bool clickScrollAndTypeReachWev(const testing::HeadlessWayland& session,
                                std::shared_ptr<wayland::RemoteDesktopSession> remote,
                                const protocol::PixelRect& monitor, QPoint at,
                                const std::string& spot = "motion: time: ") {
    input::WaylandInputSink sink(std::move(remote), [&] { return monitor; });
    sink.moveTo(at);
    sink.setButton(input::XButton::left, true);
    sink.setButton(input::XButton::left, false);
    sink.setButton(input::XButton::wheelDown, true);
    sink.setButton(input::XButton::wheelDown, false);
    const auto keyA = input::xKeycodeForMacKeyCode(0x00); // kVK_ANSI_A
    EXPECT_TRUE(keyA);
    sink.setKey(keyA.value_or(0), true);
    sink.setKey(keyA.value_or(0), false);
    sink.flush();
    const bool reached = testing::waitUntil([&] {
        const std::string log = session.wevLog();
        return std::ranges::all_of(
            std::vector<std::string>{spot, "button: 272 (left), state: 1 (pressed)",
                                     "axis: 0 (vertical), discrete: 1", "sym: a "},
            [&](const std::string& part) { return log.find(part) != std::string::npos; });
    });
    EXPECT_TRUE(reached) << spot << "\n" << session.wevLog();
    return reached;
}

TEST(WaylandSession, PictureAndInputMatchTheClientAndCaptureEndsWithoutHangingWhenMutterGoes) {
    testing::HeadlessWayland session(kMonitors);
    session.startWev();
    auto opened = wayland::MutterRemoteDesktop::open();
    ASSERT_TRUE(opened) << opened.error().message;
    std::shared_ptr<wayland::MutterRemoteDesktop> remote = std::move(*opened);
    auto source = WaylandScreenSource::open(remote);
    ASSERT_TRUE(source);
    auto& screen = *source;
    const auto displays = screen->displays();
    ASSERT_EQ(displays.size(), 2u);
    EXPECT_EQ(displays[0].frame, (protocol::PixelRect{0, 0, screenWidth, screenHeight}));
    EXPECT_TRUE(displays[0].primary);
    EXPECT_EQ(displays[1].frame, (protocol::PixelRect{screenWidth, 0, secondWidth, secondHeight}));
    EXPECT_FALSE(displays[1].primary);

    ASSERT_TRUE(screen->start(displays[0]));
    EXPECT_TRUE(screen->waitForChange(std::chrono::steady_clock::now() + 2s));
    auto first = screen->grab();
    ASSERT_TRUE(first);
    ASSERT_EQ(first->width, screenWidth);
    ASSERT_EQ(first->height, screenHeight);
    // Mutter's own background is dark blue: blue comes first in memory.
    const std::uint8_t* corner = first->data + std::ptrdiff_t(screenHeight - 2) * first->stride + 8;
    EXPECT_GT(corner[0], corner[2] + 20);
    // wev's checkerboard, half light, somewhere inside the monitor.
    const Box window = wevSquares(*first);
    ASSERT_GT(window.count, 20000);
    EXPECT_GT(window.right - window.left, 200);
    EXPECT_GT(window.bottom - window.top, 200);
    const std::vector<std::uint8_t> still = pixels(*first);

    // Nothing moves: no frame.
    EXPECT_FALSE(screen->waitForChange(std::chrono::steady_clock::now() + 1s));

    // wev gets the pointer at the spot of its window where the picture shows
    // the centre, and the input there; the pointer drawn in is a change.
    const QPoint centre = window.centre();
    clickScrollAndTypeReachWev(session, remote, displays[0].frame, centre,
                               "x, y: " + std::to_string(centre.x() - window.left) + ".000000, " +
                                   std::to_string(centre.y() - window.top) + ".000000");
    ASSERT_TRUE(screen->waitForChange(std::chrono::steady_clock::now() + 2s));
    auto after = screen->grab();
    ASSERT_TRUE(after);
    EXPECT_NE(pixels(*after), still);

    // The second monitor: its own picture, and the pointer goes there.
    ASSERT_TRUE(screen->start(displays[1]));
    auto second = screen->grab();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->width, secondWidth);
    EXPECT_EQ(second->height, secondHeight);
    EXPECT_EQ(wevSquares(*second).count, 0);
    const std::vector<std::uint8_t> empty = pixels(*second);
    {
        input::WaylandInputSink sink(remote, [&] { return displays[1].frame; });
        sink.moveTo({screenWidth + 300, 300});
        sink.flush();
    }
    ASSERT_TRUE(screen->waitForChange(std::chrono::steady_clock::now() + 2s));
    auto pointed = screen->grab();
    ASSERT_TRUE(pointed);
    EXPECT_NE(pixels(*pointed), empty);

    // Mutter goes: capture ends, and its wait still takes its time instead of
    // spinning; input to the gone session is dropped.
    session.killMutter();
    EXPECT_TRUE(testing::waitUntil([&] { return screen->displays().empty(); }));
    EXPECT_FALSE(screen->grab());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(screen->waitForChange(started + 200ms));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 150ms);
    input::WaylandInputSink sink(remote, [] { return protocol::PixelRect{0, 0, 10, 10}; });
    sink.moveTo({5, 5});
    sink.flush();
}

std::string portalCall(const char* method) {
    return testing::runShell(std::string("gdbus call --session --dest "
                                         "org.freedesktop.portal.Desktop --object-path "
                                         "/org/velmarin/TestPortal --method "
                                         "org.velmarin.TestPortal.") +
                             method)
        .first;
}

// How often the portal asked the person so far.
unsigned asks() {
    const std::string reply = portalCall("Asks"); // "(uint32 2,)"
    const auto number = reply.find("uint32 ");
    return number == std::string::npos ? 999u : unsigned(std::stoul(reply.substr(number + 7)));
}

TEST(PortalSession, AsksOnceSharesPictureAndInputRestoresWithTheTokenAndReportsARefusal) {
    testing::HeadlessWayland session(kMonitors);
    session.startWev();
    session.startService({VELMARIN_TEST_PORTAL}, "portal.log", "org.freedesktop.portal.Desktop");

    // Granting ("Toestaan") asks once and keeps the token.
    std::string kept;
    const wayland::RestoreTokenStore store{[&] { return kept; },
                                           [&](const std::string& token) { kept = token; }};
    ASSERT_TRUE(wayland::requestRemoteDesktopGrant(store));
    EXPECT_EQ(asks(), 1u);
    const std::string granted = kept;
    ASSERT_FALSE(granted.empty());

    // Sharing restores that consent without asking, once, and a new token
    // replaces the used one.
    auto opened = PortalRemoteDesktop::open(granted);
    ASSERT_TRUE(opened) << opened.error().message;
    EXPECT_EQ(asks(), 1u);
    std::shared_ptr<PortalRemoteDesktop> remote = std::move(*opened);
    EXPECT_FALSE(remote->restoreToken().empty());
    EXPECT_NE(remote->restoreToken(), granted);
    // Both monitors, where they lie, the first the primary one.
    const auto& monitors = remote->monitors();
    ASSERT_EQ(monitors.size(), 2u);
    EXPECT_EQ(monitors[0],
              (wayland::CastMonitor{monitors[0].node, 0, 0, screenWidth, screenHeight, true}));
    EXPECT_EQ(monitors[1], (wayland::CastMonitor{monitors[1].node, screenWidth, 0, secondWidth,
                                                 secondHeight, false}));
    EXPECT_NE(monitors[0].node, monitors[1].node);

    // The picture comes through the portal's connection: the default
    // PipeWire of this process is out of reach meanwhile.
    const std::string runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    setenv("XDG_RUNTIME_DIR", "/nonexistent", 1);
    auto source = WaylandScreenSource::open(remote);
    setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
    ASSERT_TRUE(source);
    auto& screen = *source;
    ASSERT_EQ(screen->displays().size(), 2u);
    ASSERT_TRUE(screen->start(screen->displays().front()));
    EXPECT_TRUE(screen->waitForChange(std::chrono::steady_clock::now() + 2s));
    auto picture = screen->grab();
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->width, screenWidth);
    const Box window = wevSquares(*picture);
    ASSERT_GT(window.count, 20000);
    clickScrollAndTypeReachWev(session, remote, screen->displays().front().frame, window.centre());

    // The other monitor through a second connection from the portal.
    ASSERT_TRUE(screen->start(screen->displays()[1]));
    auto second = screen->grab();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->width, secondWidth);
    screen.reset();
    remote.reset();

    // The used token asks again, and the person cancels.
    portalCall("CancelNext");
    auto refused = PortalRemoteDesktop::open(granted);
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.error().refused);
    EXPECT_EQ(refused.error().description(), "Het delen van het scherm is geweigerd.");
    EXPECT_EQ(asks(), 2u);
}

} // namespace
} // namespace velmarin
