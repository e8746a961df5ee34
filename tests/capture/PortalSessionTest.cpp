// Sharing through the desktop portal: velmarin_test_portal in front of a
// headless mutter, the picture through the PipeWire connection the portal
// hands out, input through the portal, and the restore token that spares
// the person the dialog next time.

#include "capture/wayland/WaylandScreenSource.h"
#include "input/KeyCodeTable.h"
#include "input/WaylandInputSink.h"
#include "support/Shell.h"
#include "support/wayland/HeadlessWayland.h"
#include "wayland/PortalRemoteDesktop.h"
#include "wayland/RemoteDesktopProvider.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace velmarin {
namespace {

using namespace std::chrono_literals;
using wayland::PortalRemoteDesktop;

constexpr int screenWidth = 1280;
constexpr int screenHeight = 800;
constexpr int secondWidth = 1024;
constexpr int secondHeight = 768;

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

TEST(PortalSessionTest, AsksOnceSharesPictureAndInputRestoresWithTheTokenAndReportsARefusal) {
    testing::HeadlessWayland session({{screenWidth, screenHeight}, {secondWidth, secondHeight}});
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
    EXPECT_EQ(monitors[0], (wayland::CastMonitor{monitors[0].node, 0, 0, screenWidth,
                                                 screenHeight, true}));
    EXPECT_EQ(monitors[1], (wayland::CastMonitor{monitors[1].node, screenWidth, 0, secondWidth,
                                                 secondHeight, false}));
    EXPECT_NE(monitors[0].node, monitors[1].node);

    // The picture comes through the portal's connection: the default
    // PipeWire of this process is out of reach meanwhile.
    const std::string runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    setenv("XDG_RUNTIME_DIR", "/nonexistent", 1);
    auto source = capture::WaylandScreenSource::open(remote);
    setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
    ASSERT_TRUE(source);
    auto& screen = *source;
    ASSERT_EQ(screen->displays().size(), 2u);
    ASSERT_TRUE(screen->start(screen->displays().front()));
    EXPECT_TRUE(screen->waitForChange(std::chrono::steady_clock::now() + 2s));
    auto picture = screen->grab();
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->width, screenWidth);
    // wev's light grey squares, and where they are.
    long light = 0;
    int left = screenWidth, top = screenHeight, right = 0, bottom = 0;
    for (int y = 0; y < picture->height; ++y)
        for (int x = 0; x < picture->width; ++x) {
            const std::uint8_t* p = picture->data + std::ptrdiff_t(y) * picture->stride + x * 4;
            if (p[0] == 0xEE && p[1] == 0xEE && p[2] == 0xEE) {
                ++light;
                left = std::min(left, x), top = std::min(top, y);
                right = std::max(right, x), bottom = std::max(bottom, y);
            }
        }
    ASSERT_GT(light, 20000);

    {
        input::WaylandInputSink sink(remote, [&] { return screen->displays().front().frame; });
        sink.moveTo({(left + right) / 2, (top + bottom) / 2});
        sink.setButton(input::XButton::left, true);
        sink.setButton(input::XButton::left, false);
        const auto keyA = input::xKeycodeForMacKeyCode(0x00); // kVK_ANSI_A
        ASSERT_TRUE(keyA);
        sink.setKey(*keyA, true);
        sink.setKey(*keyA, false);
        sink.flush();
    }
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    auto reached = [&] {
        const std::string log = session.wevLog();
        return log.find("button: 272 (left), state: 1 (pressed)") != std::string::npos &&
               log.find("sym: a ") != std::string::npos;
    };
    while (!reached() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(reached()) << session.wevLog();
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
