// InputInjector over XTEST on a private Xvfb: what arrives is read back from
// the X server (pointer and keyboard state) and from a second client's window.

#include "input/InputInjector.h"
#include "input/XTestInputSink.h"
#include "support/x11/XTestClient.h"
#include "support/x11/XvfbProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

using namespace velmarin;
using namespace velmarin::input;
using velmarin::testing::ReceivedEvent;
using Kind = ReceivedEvent::Kind;
using namespace std::chrono_literals;

namespace {

constexpr std::uint64_t kShift = 0x20000, kControl = 0x40000, kOption = 0x80000,
                        kCommand = 0x100000;

constexpr int kControlL = 37, kC = 54, kSuperL = 133, kDelete = 119;
constexpr std::uint32_t kShiftLSym = 0xffe1;

protocol::MouseEventMessage mouse(std::string action, double x, double y) {
    return {.action = std::move(action), .x = x, .y = y};
}

protocol::KeyEventMessage key(std::string action, std::uint16_t code, std::uint64_t flags = 0) {
    return {.action = std::move(action), .keyCode = code, .flags = flags};
}

std::vector<ReceivedEvent> only(const std::vector<ReceivedEvent>& events, Kind kind) {
    std::vector<ReceivedEvent> result;
    std::copy_if(events.begin(), events.end(), std::back_inserter(result),
                 [kind](const ReceivedEvent& e) { return e.kind == kind; });
    return result;
}

class Injection : public ::testing::Test {
protected:
    // Two 1920 x 1080 monitors side by side on one X screen.
    velmarin::testing::XvfbProcess xvfb{3840, 1080};
    velmarin::testing::XTestClient client{xvfb.display()};
    XTestInputSink* sink = nullptr;
    std::optional<protocol::PixelRect> capturedArea;
    std::unique_ptr<InputInjector> injector;
    std::chrono::steady_clock::time_point now{std::chrono::seconds(1000)};

    void SetUp() override {
        auto opened = XTestInputSink::open(xvfb.display());
        ASSERT_TRUE(opened);
        sink = opened->get();
        injector = std::make_unique<InputInjector>(
            std::move(*opened), [this] { return capturedArea; }, [this] { return now; });
    }

    void send(const protocol::MouseEventMessage& message) {
        injector->injectMouseEvent(message);
        sink->sync();
    }
    void send(const protocol::KeyEventMessage& message) {
        injector->injectKeyEvent(message);
        sink->sync();
    }
};

} // namespace

TEST_F(Injection, PointerAndClicksLandOnTheCapturedSecondMonitor) {
    client.setMonitor("LEFT", 0, 0, 1920, 1080);
    client.setMonitor("RIGHT", 1920, 0, 1920, 1080);
    client.openWindow(1920, 0, 1920, 1080);
    capturedArea = protocol::PixelRect{1920, 0, 1920, 1080};

    // The last pixel of the right monitor.
    send(mouse("leftDrag", 1.0, 1.0));
    EXPECT_EQ(std::pair(client.pointer().x, client.pointer().y), std::pair(3839, 1079));

    // A right press even though the message's button says left.
    auto right = mouse("rightDown", 0.1, 0.1);
    right.button = 0;
    send(right);
    send(mouse("rightUp", 0.1, 0.1));
    for (int i = 0; i < 2; ++i) {
        auto down = mouse("leftDown", 0.5, 0.5);
        auto up = mouse("leftUp", 0.5, 0.5);
        if (i == 1)
            down.clickCount = up.clickCount = 2;
        send(down);
        send(up);
    }
    using Seen = std::vector<std::tuple<Kind, int, int, int>>; // kind, button, x, y
    const auto& events = client.waitForEvents(6);
    Seen seen;
    for (const auto& e : events)
        seen.emplace_back(e.kind, e.detail, e.x, e.y);
    ASSERT_EQ(seen, (Seen{{Kind::buttonPress, 3, 2112, 108},
                          {Kind::buttonRelease, 3, 2112, 108},
                          {Kind::buttonPress, 1, 2880, 540},
                          {Kind::buttonRelease, 1, 2880, 540},
                          {Kind::buttonPress, 1, 2880, 540},
                          {Kind::buttonRelease, 1, 2880, 540}}));
    // Close enough in time for any toolkit's double click.
    EXPECT_LT(events[4].time - events[2].time, 200u);
    EXPECT_EQ(client.pointer().mask & XCB_BUTTON_MASK_1, 0);

    // Nothing captured (yet): positions span the whole screen.
    capturedArea.reset();
    send(mouse("move", 0.25, 0.0));
    EXPECT_EQ(client.pointer().x, 960);
    // Nonsense from the network moves nothing and stops nothing.
    send(mouse("move", std::numeric_limits<double>::quiet_NaN(), 0.5));
    send(mouse("jump", 0.9, 0.9));
    EXPECT_EQ(client.pointer().x, 960);
}

TEST_F(Injection, KeysFollowTheirFlagsShiftAIsACapitalAndHeldKeysAreNotRepeated) {
    client.openWindow(0, 0, 3840, 1080);
    // As a Viewer sends it: Shift, then A with the Shift flag.
    send(key("down", 56, kShift));
    send(key("down", 0x00, kShift));
    send(key("up", 0x00, kShift));
    send(key("up", 56, 0));
    // The flags alone are enough too.
    send(key("down", 0x0B, kShift));
    send(key("up", 0x0B, kShift));
    // And without them, a small letter. The Viewer's own repeats of a held
    // key add no presses: the Host's server repeats it already.
    for (int i = 0; i < 3; ++i)
        send(key("down", 0x00, 0));
    send(key("up", 0x00, 0));

    std::vector<std::uint32_t> typed;
    for (const auto& e : only(client.settle(), Kind::keyPress))
        typed.push_back(e.keysym);
    EXPECT_EQ(typed, (std::vector<std::uint32_t>{kShiftLSym, 'A', kShiftLSym, 'B', 'a'}));
    EXPECT_TRUE(client.pressedKeys().empty());
    client.clearEvents();

    // The Viewer holds Command (Super) itself, then types C with
    // Command+Control: Control is added for the key only.
    send(key("down", 55, kCommand));
    send(key("down", 0x08, kCommand | kControl));
    auto held = client.pressedKeys();
    std::ranges::sort(held);
    EXPECT_EQ(held, (std::vector<int>{kControlL, kC, kSuperL}));
    send(key("up", 0x08, kCommand | kControl));
    EXPECT_EQ(client.pressedKeys(), std::vector<int>{kSuperL});
    // A key whose flags lack Command lets go of it.
    send(key("down", 0x08, 0));
    send(key("up", 0x08, 0));
    EXPECT_TRUE(client.pressedKeys().empty());
    // Unknown codes (Function) change nothing.
    send(key("down", 63, kShift));
    EXPECT_TRUE(client.pressedKeys().empty());

    // Control-Alt-Delete as the Host's special keys send it.
    send(key("down", 117, kControl | kOption));
    send(key("up", 117, kControl | kOption));
    const auto combo = only(client.settle(), Kind::keyPress);
    ASSERT_GE(combo.size(), 3u);
    EXPECT_EQ(combo.back().detail, kDelete);
    EXPECT_EQ(combo.back().state & (XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1),
              XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1);
    EXPECT_TRUE(client.pressedKeys().empty());
}

TEST_F(Injection, CapsLockFollowsItsStateAndEverythingIsReleasedWhenTheViewerLeaves) {
    send(key("down", 57, 0x10000));
    EXPECT_NE(client.pointer().mask & XCB_MOD_MASK_LOCK, 0);
    send(key("down", 57, 0x10000)); // already on: stays on
    EXPECT_NE(client.pointer().mask & XCB_MOD_MASK_LOCK, 0);
    send(key("up", 57, 0));
    EXPECT_EQ(client.pointer().mask & XCB_MOD_MASK_LOCK, 0);

    capturedArea = protocol::PixelRect{0, 0, 1920, 1080};
    send(key("down", 56, kShift));
    send(key("down", 59, kShift | kControl));
    send(key("down", 61, kShift | kControl | kOption));
    send(key("down", 54, kShift | kControl | kOption | kCommand));
    send(key("down", 0x01, kShift | kControl | kOption | kCommand)); // S, held
    send(mouse("leftDown", 0.5, 0.5));
    ASSERT_EQ(client.pressedKeys().size(), 5u);
    ASSERT_NE(client.pointer().mask & XCB_BUTTON_MASK_1, 0);

    injector->releaseAllModifiers();
    sink->sync();
    EXPECT_TRUE(client.pressedKeys().empty());
    EXPECT_EQ(client.pointer().mask & XCB_BUTTON_MASK_1, 0);
    EXPECT_EQ(client.pointer().mask & XCB_MOD_MASK_SHIFT, 0);
}

TEST_F(Injection, ScrollDeltasBecomeWheelClicks) {
    client.openWindow(0, 0, 3840, 1080);
    auto scroll = [&](double dx, double dy) {
        auto message = mouse("scroll", 0.5, 0.5);
        message.scrollDeltaX = dx;
        message.scrollDeltaY = dy;
        send(message);
        auto buttons = only(client.settle(), Kind::buttonPress);
        client.clearEvents();
        std::vector<int> details;
        for (const auto& e : buttons)
            details.push_back(e.detail);
        return details;
    };
    // Our Viewer: 50 per notch, whether notches come slowly or quickly.
    EXPECT_EQ(scroll(0, 50), std::vector<int>{4}); // one notch up
    EXPECT_EQ(scroll(0, -100), (std::vector<int>{5, 5}));
    EXPECT_EQ(scroll(50, 0), std::vector<int>{6}); // left
    EXPECT_EQ(scroll(-50, 0), std::vector<int>{7});
    now += 10ms;
    EXPECT_EQ(scroll(0, -50), std::vector<int>{5});

    // A Viewer passing its wheel's own units on: each notch turned by hand
    // (after a pause) is one click, in either direction.
    for (const double delta : {3.0, 3.0, -1.0, 10.0}) {
        now += kScrollPause;
        EXPECT_EQ(scroll(0, delta), std::vector<int>{delta > 0 ? 4 : 5}) << delta;
    }
    now += kScrollPause;
    EXPECT_EQ(scroll(-4, 0), std::vector<int>{7});

    // A touchpad: the first delta of a stream clicks at once, those that
    // follow closely add up to a click per 50.
    now += kScrollPause;
    EXPECT_EQ(scroll(0, 20), std::vector<int>{4});
    std::size_t clicks = 0;
    for (int i = 0; i < 10; ++i) {
        now += 16ms;
        const auto buttons = scroll(0, 20);
        EXPECT_TRUE(std::all_of(buttons.begin(), buttons.end(), [](int b) { return b == 4; }));
        clicks += buttons.size();
    }
    EXPECT_EQ(clicks, 4u); // 200 more
    // Turning back mid-stream starts afresh.
    now += 16ms;
    EXPECT_EQ(scroll(0, -20), std::vector<int>{5});

    now += kScrollPause;
    // A missing delta is no scroll; absurd ones are bounded, not fatal.
    EXPECT_TRUE(scroll(0, 0).empty());
    EXPECT_TRUE(scroll(std::numeric_limits<double>::quiet_NaN(), 0).empty());
    EXPECT_EQ(scroll(0, -1e300).size(), 100u);
}
