// Capture and input in a real headless GNOME Wayland session: mutter casts
// its monitor into PipeWire, wev is the client on screen.

#include "capture/wayland/WaylandScreenSource.h"
#include "input/KeyCodeTable.h"
#include "input/WaylandInputSink.h"
#include "support/wayland/HeadlessWayland.h"
#include "wayland/MutterRemoteDesktop.h"

#include <gtest/gtest.h>

#include <thread>

namespace velmarin {
namespace {

using namespace std::chrono_literals;
using capture::BgraImage;
using capture::WaylandScreenSource;

constexpr int screenWidth = 1280;
constexpr int screenHeight = 800;
// A second monitor right of the first.
constexpr int secondWidth = 1024;
constexpr int secondHeight = 768;

struct Box {
    int left = screenWidth, top = screenHeight, right = -1, bottom = -1;
    long count = 0;
};

// Where the pixels of one grey (R = G = B = `level`) are.
Box findGrey(const BgraImage& image, int level) {
    Box box;
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.data + std::ptrdiff_t(y) * image.stride;
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* p = row + x * 4;
            if (p[0] == level && p[1] == level && p[2] == level) {
                box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x),
                       std::max(box.bottom, y), box.count + 1};
            }
        }
    }
    return box;
}

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class WaylandSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        session.startWev();
        auto opened = wayland::MutterRemoteDesktop::open();
        ASSERT_TRUE(opened) << opened.error().message;
        remote = std::move(*opened);
        auto source = WaylandScreenSource::open(remote);
        ASSERT_TRUE(source);
        screen = std::move(*source);
        ASSERT_EQ(screen->displays().size(), 2u);
        ASSERT_TRUE(screen->start(screen->displays().front()));
    }

    // wev's light squares in a fresh grab.
    Box wevWindow() {
        EXPECT_TRUE(screen->waitForChange(std::chrono::steady_clock::now() + 2s));
        auto grabbed = screen->grab();
        EXPECT_TRUE(grabbed);
        return grabbed ? findGrey(*grabbed, wevLight) : Box{};
    }

    static constexpr int wevLight = 0xEE;
    testing::HeadlessWayland session{{{screenWidth, screenHeight}, {secondWidth, secondHeight}}};
    std::shared_ptr<wayland::MutterRemoteDesktop> remote;
    std::unique_ptr<WaylandScreenSource> screen;
};

TEST_F(WaylandSessionTest, PictureShowsTheClientAndOnlyChangesWithTheScreen) {
    const auto displays = screen->displays();
    EXPECT_EQ(displays[0].frame, (protocol::PixelRect{0, 0, screenWidth, screenHeight}));
    EXPECT_TRUE(displays[0].primary);
    EXPECT_EQ(displays[1].frame, (protocol::PixelRect{screenWidth, 0, secondWidth, secondHeight}));
    EXPECT_FALSE(displays[1].primary);

    EXPECT_TRUE(screen->waitForChange(std::chrono::steady_clock::now() + 2s));
    auto first = screen->grab();
    ASSERT_TRUE(first);
    ASSERT_EQ(first->width, screenWidth);
    ASSERT_EQ(first->height, screenHeight);
    // Mutter's own background is dark blue: blue comes first in memory.
    const std::uint8_t* corner = first->data + std::ptrdiff_t(screenHeight - 2) * first->stride + 8;
    EXPECT_GT(corner[0], corner[2] + 20);
    const Box window = findGrey(*first, wevLight);
    // wev's checkerboard, half light, somewhere inside the monitor.
    EXPECT_GT(window.count, 20000);
    EXPECT_GT(window.right - window.left, 200);
    EXPECT_GT(window.bottom - window.top, 200);

    // Nothing moves: no frame.
    EXPECT_FALSE(screen->waitForChange(std::chrono::steady_clock::now() + 1s));

    // The pointer drawn into the picture is a change.
    auto before = screen->grab();
    ASSERT_TRUE(before);
    const std::vector<std::uint8_t> old(before->data,
                                        before->data + before->stride * before->height);
    remote->pointerMotion(displays[0].id, 40, 40);
    remote->flush();
    ASSERT_TRUE(screen->waitForChange(std::chrono::steady_clock::now() + 2s));
    auto after = screen->grab();
    ASSERT_TRUE(after);
    EXPECT_NE(std::vector<std::uint8_t>(after->data, after->data + after->stride * after->height),
              old);

    // The second monitor: its own picture, and the pointer goes there.
    ASSERT_TRUE(screen->start(displays[1]));
    auto second = screen->grab();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->width, secondWidth);
    EXPECT_EQ(second->height, secondHeight);
    EXPECT_EQ(findGrey(*second, wevLight).count, 0);
    const std::vector<std::uint8_t> empty(second->data,
                                          second->data + second->stride * second->height);
    input::WaylandInputSink sink(remote, [&] { return displays[1].frame; });
    sink.moveTo({screenWidth + 300, 300});
    sink.flush();
    ASSERT_TRUE(screen->waitForChange(std::chrono::steady_clock::now() + 2s));
    auto pointed = screen->grab();
    ASSERT_TRUE(pointed);
    EXPECT_NE(
        std::vector<std::uint8_t>(pointed->data, pointed->data + pointed->stride * pointed->height),
        empty);
}

TEST_F(WaylandSessionTest, ClickKeyAndWheelReachTheClientWhereThePictureShowsIt) {
    const Box window = wevWindow();
    ASSERT_GT(window.count, 20000);
    input::WaylandInputSink sink(remote, [this] { return screen->displays().front().frame; });
    const QPoint centre((window.left + window.right) / 2, (window.top + window.bottom) / 2);
    sink.moveTo(centre);
    sink.setButton(input::XButton::left, true);
    sink.setButton(input::XButton::left, false);
    sink.setButton(input::XButton::wheelDown, true);
    sink.setButton(input::XButton::wheelDown, false);
    const auto keyA = input::xKeycodeForMacKeyCode(0x00); // kVK_ANSI_A
    ASSERT_TRUE(keyA);
    sink.setKey(*keyA, true);
    sink.setKey(*keyA, false);
    sink.flush();

    // wev gets the pointer at the spot of its window where the picture shows
    // the centre, the left button, one step down and the A key.
    const std::string spot = "x, y: " + std::to_string(centre.x() - window.left) + ".000000, " +
                             std::to_string(centre.y() - window.top) + ".000000";
    EXPECT_TRUE(eventually([&] {
        const std::string log = session.wevLog();
        return log.find("motion: time: ") != std::string::npos &&
               log.find(spot) != std::string::npos &&
               log.find("button: 272 (left), state: 1 (pressed)") != std::string::npos &&
               log.find("axis: 0 (vertical), discrete: 1") != std::string::npos &&
               log.find("sym: a ") != std::string::npos;
    })) << spot
        << "\n"
        << session.wevLog();
}

TEST_F(WaylandSessionTest, CaptureEndsWithoutHangingWhenMutterGoes) {
    ASSERT_TRUE(screen->grab());
    session.killMutter();

    EXPECT_TRUE(eventually([&] { return screen->displays().empty(); }));
    EXPECT_FALSE(screen->grab());
    // The capture thread's wait still takes its time instead of spinning.
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(screen->waitForChange(started + 200ms));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 150ms);
    input::WaylandInputSink sink(remote, [] { return protocol::PixelRect{0, 0, 10, 10}; });
    sink.moveTo({5, 5});
    sink.flush();
}

} // namespace
} // namespace velmarin
