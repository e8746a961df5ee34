// RemoteInputCapture fed with synthetic Qt events, as the display view
// delivers them; what it sends is decoded back from the JSON.

#include "input/RemoteInputCapture.h"

#include "protocol/ProtocolEncoder.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWindow>
#include <gtest/gtest.h>

#include <chrono>

using namespace velmarin;
using namespace velmarin::input;
using namespace std::chrono_literals;

namespace {

using Mouse = protocol::MouseEventMessage;
using Key = protocol::KeyEventMessage;
constexpr quint32 kX11Shift = 0x1, kX11Lock = 0x2;
constexpr int kShiftL = 50, kShiftR = 62, kSuperL = 133, kCapsLock = 66, kKeyA = 38, kAltL = 64;

class Capture : public ::testing::Test {
protected:
    std::vector<std::string> sent;
    std::chrono::steady_clock::time_point now{std::chrono::seconds(1000)};
    QSizeF hostSize{1920, 1080};
    // A square view: the 16:9 picture has bars of 218.75 above and below.
    const QRectF view{0, 0, 1000, 1000};
    RemoteInputCapture capture{[this](std::string json, RemoteInputCapture::MessageKind) {
                                   sent.push_back(std::move(json));
                               },
                               [this] { return hostSize; },
                               {},
                               [this] { return now; }};

    void SetUp() override { capture.startCapturing(); }

    void mouse(QEvent::Type type, QPointF at, Qt::MouseButton button = Qt::NoButton,
               Qt::MouseButtons buttons = Qt::NoButton) {
        const QMouseEvent event(type, at, at, button, buttons, Qt::NoModifier);
        capture.handleMouseEvent(event, view);
    }
    void key(QEvent::Type type, int keycode, Qt::KeyboardModifiers modifiers,
             quint32 nativeModifiers = 0, const QString& text = {}) {
        const QKeyEvent event(type, 0, modifiers, keycode, 0, nativeModifiers, text);
        capture.handleKeyEvent(event);
    }

    // What was sent, decoded as M (messages of other types skipped).
    template <class M> std::vector<M> decoded() const {
        std::vector<M> result;
        for (const auto& json : sent) {
            if (auto message = protocol::ProtocolEncoder::decode<M>(json))
                result.push_back(*message);
        }
        return result;
    }
    std::vector<Mouse> mice() const { return decoded<Mouse>(); }
    std::vector<Key> keys() const { return decoded<Key>(); }
};

} // namespace

TEST_F(Capture, PointerMotionIsThrottledButDragsAndPressesAreNot) {
    mouse(QEvent::MouseMove, {500, 500});
    now += 10ms;
    mouse(QEvent::MouseMove, {510, 500}); // too soon
    now += 7ms;
    mouse(QEvent::MouseMove, {520, 500}); // 17 ms after the first
    mouse(QEvent::MouseButtonPress, {520, 500}, Qt::LeftButton, Qt::LeftButton);
    for (int i = 0; i < 3; ++i)
        mouse(QEvent::MouseMove, {530.0 + i, 500}, Qt::NoButton, Qt::LeftButton);
    mouse(QEvent::MouseMove, {540, 500}, Qt::NoButton, Qt::RightButton);

    const auto messages = mice();
    ASSERT_EQ(messages.size(), 7u);
    EXPECT_EQ(messages[0], (Mouse{.action = "move", .x = 0.5, .y = 0.5}));
    EXPECT_DOUBLE_EQ(messages[1].x, 0.52);
    EXPECT_EQ(messages[2].action, "leftDown");
    EXPECT_EQ(messages[3].action, "leftDrag");
    EXPECT_EQ(messages[5].action, "leftDrag");
    EXPECT_EQ(messages[6].action, "rightDrag");
    EXPECT_EQ(messages[6].button, 1);
}

TEST_F(Capture, NothingIsSentForTheBarsButAReleaseAlwaysIs) {
    mouse(QEvent::MouseButtonPress, {500, 100}, Qt::LeftButton, Qt::LeftButton); // top bar
    mouse(QEvent::MouseButtonRelease, {500, 100}, Qt::LeftButton);
    mouse(QEvent::MouseMove, {500, 900}); // bottom bar
    mouse(QEvent::MouseButtonPress, {500, 100}, Qt::MiddleButton, Qt::MiddleButton);
    EXPECT_TRUE(sent.empty());

    // Pressed on the picture, dragged out, released in the bar: the Host
    // must not keep the button down.
    mouse(QEvent::MouseButtonPress, {500, 500}, Qt::RightButton, Qt::RightButton);
    mouse(QEvent::MouseMove, {500, 950}, Qt::NoButton, Qt::RightButton);
    mouse(QEvent::MouseButtonRelease, {500, 950}, Qt::RightButton);
    const auto messages = mice();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], (Mouse{.action = "rightUp", .x = 0.5, .y = 1.0, .button = 1}));

    // The Host's reported size moves the bars.
    sent.clear();
    hostSize = QSizeF(1000, 1000);
    mouse(QEvent::MouseButtonPress, {500, 100}, Qt::LeftButton, Qt::LeftButton);
    ASSERT_EQ(mice().size(), 1u);
    EXPECT_DOUBLE_EQ(mice()[0].y, 0.1);
}

TEST_F(Capture, DoubleAndTripleClicksCarryTheirCount) {
    mouse(QEvent::MouseButtonPress, {500, 500}, Qt::LeftButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, {500, 500}, Qt::LeftButton);
    now += 120ms;
    // Qt reports the second press as a double click.
    mouse(QEvent::MouseButtonDblClick, {501, 500}, Qt::LeftButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, {501, 500}, Qt::LeftButton);
    now += 120ms;
    mouse(QEvent::MouseButtonPress, {501, 501}, Qt::LeftButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, {501, 501}, Qt::LeftButton);
    now += 2s;
    mouse(QEvent::MouseButtonPress, {501, 501}, Qt::LeftButton, Qt::LeftButton);
    now += 50ms;
    mouse(QEvent::MouseButtonPress, {501, 501}, Qt::RightButton, Qt::LeftButton | Qt::RightButton);

    std::string actions;
    std::vector<std::optional<std::int64_t>> counts;
    for (const auto& message : mice()) {
        actions += message.action + ' ';
        counts.push_back(message.clickCount);
    }
    EXPECT_EQ(actions, "leftDown leftUp leftDown leftUp leftDown leftUp leftDown rightDown ");
    // The last two: too late, and another button.
    EXPECT_EQ(counts, (std::vector<std::optional<std::int64_t>>{{}, {}, 2, 2, 3, 3, {}, {}}));
}

TEST_F(Capture, WheelTurnsBecomePixelDeltas) {
    const auto wheel = [&](QPointF at, QPoint pixels, QPoint angle) {
        const QWheelEvent event(at, at, pixels, angle, Qt::NoButton, Qt::NoModifier,
                                Qt::NoScrollPhase, false);
        capture.handleMouseEvent(event, view);
    };
    wheel({500, 500}, {}, {0, 120});       // one notch up
    wheel({500, 500}, {}, {-60, 0});       // half a notch right
    wheel({500, 500}, {0, -7}, {0, -120}); // a touchpad: the pixels count
    wheel({500, 50}, {}, {0, 120});        // over the bar
    const auto messages = mice();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].action, "scroll");
    EXPECT_EQ(messages[0].scrollDeltaY, 50.0);
    EXPECT_EQ(messages[0].scrollDeltaX, 0.0);
    EXPECT_EQ(messages[1].scrollDeltaX, -25.0);
    EXPECT_EQ(messages[2].scrollDeltaY, -7.0);
}

TEST_F(Capture, KeysCarryMacCodesAndFlagsAndShiftAndCapsLockKeepTheirState) {
    key(QEvent::KeyPress, kShiftL, Qt::ShiftModifier);
    key(QEvent::KeyPress, kKeyA, Qt::ShiftModifier, kX11Shift, QStringLiteral("A"));
    key(QEvent::KeyRelease, kKeyA, Qt::ShiftModifier, kX11Shift, QStringLiteral("A"));
    key(QEvent::KeyPress, 255, Qt::ShiftModifier, kX11Shift); // no Mac key: dropped
    key(QEvent::KeyPress, kShiftR, Qt::ShiftModifier, kX11Shift);
    // Qt clears Shift on any Shift release; the right one is still held.
    key(QEvent::KeyRelease, kShiftL, Qt::NoModifier, kX11Shift);
    EXPECT_EQ(capture.heldModifiers(), std::set<std::uint16_t>{60});
    key(QEvent::KeyRelease, kShiftR, Qt::NoModifier, kX11Shift);
    EXPECT_TRUE(capture.heldModifiers().empty());
    EXPECT_EQ(keys(), (std::vector<Key>{{"down", 56, 0x20000, {}},
                                        {"down", 0, 0x20000, "A"},
                                        {"up", 0, 0x20000, {}},
                                        {"down", 60, 0x20000, {}},
                                        {"up", 56, 0x20000, {}},
                                        {"up", 60, 0, {}}}));
    sent.clear();

    // Caps Lock reports the lock: on at the first press, off at the next;
    // its releases say nothing.
    key(QEvent::KeyPress, kCapsLock, Qt::NoModifier, 0);
    key(QEvent::KeyRelease, kCapsLock, Qt::NoModifier, kX11Lock);
    EXPECT_EQ(capture.heldModifiers(), std::set<std::uint16_t>{57});
    key(QEvent::KeyPress, kCapsLock, Qt::NoModifier, kX11Lock);
    key(QEvent::KeyRelease, kCapsLock, Qt::NoModifier, 0);
    EXPECT_EQ(keys(), (std::vector<Key>{{"down", 57, 0x10000, {}}, {"up", 57, 0, {}}}));
    EXPECT_TRUE(capture.heldModifiers().empty());
}

TEST_F(Capture, HeldModifiersAreReleasedWhenFocusMovesOrCaptureStops) {
    const auto focus = [](QWindow& window) {
        window.show();
        window.requestActivate();
        for (int i = 0; i < 100 && QGuiApplication::focusWindow() != &window; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    };
    QWindow first;
    QWindow second;
    focus(first);
    ASSERT_EQ(QGuiApplication::focusWindow(), &first);

    // Alt-Tab with Caps Lock on: Alt is let go, the lock is not touched (an
    // "up" of Caps Lock would switch the Host's lock off).
    key(QEvent::KeyPress, kCapsLock, Qt::NoModifier, 0);
    key(QEvent::KeyPress, kAltL, Qt::AltModifier, kX11Lock);
    sent.clear();
    focus(second);
    EXPECT_EQ(keys(), (std::vector<Key>{{"up", 58, 0, {}}}));
    EXPECT_TRUE(capture.heldModifiers().empty());
    // The lock still comes with later keys, from their native modifiers.
    key(QEvent::KeyPress, kKeyA, Qt::NoModifier, kX11Lock, QStringLiteral("A"));
    ASSERT_EQ(keys().size(), 2u);
    EXPECT_EQ(keys()[1].flags, 0x10000u);
    key(QEvent::KeyRelease, kKeyA, Qt::NoModifier, kX11Lock);
    sent.clear();

    key(QEvent::KeyPress, kSuperL, Qt::MetaModifier);
    sent.clear();
    focus(first);
    EXPECT_EQ(keys(), (std::vector<Key>{{"up", 55, 0, {}}}));
    EXPECT_TRUE(capture.heldModifiers().empty());
    // Capture stays on after a focus change.
    key(QEvent::KeyPress, kShiftL, Qt::ShiftModifier);
    EXPECT_EQ(keys().size(), 2u);

    sent.clear();
    capture.stopCapturing();
    EXPECT_EQ(keys(), (std::vector<Key>{{"up", 56, 0, {}}}));
    // Stopped: nothing more, and nothing held to release.
    key(QEvent::KeyPress, kKeyA, Qt::NoModifier);
    mouse(QEvent::MouseButtonPress, {500, 500}, Qt::LeftButton, Qt::LeftButton);
    capture.stopCapturing();
    EXPECT_EQ(sent.size(), 1u);
}
