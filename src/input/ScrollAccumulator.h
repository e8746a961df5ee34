#pragma once

// Scroll deltas travel as pixels; X applications scroll by wheel clicks.
// Our Viewer turns one wheel notch into kScrollPixelsPerNotch pixels and the
// Host turns every full kScrollPixelsPerNotch back into one click, keeping
// the remainder, so small trackpad deltas add up and a notch stays a notch.
//
// Other Viewers pass their wheel's own deltas on (a few units per notch), so
// a message that starts a scroll, after nothing came in its direction for
// kScrollPause, always gives at least one click; the deltas that follow it
// closely (a touchpad's stream) add up as above.

#include <chrono>
#include <functional>

namespace velmarin::input {

constexpr double kScrollPixelsPerNotch = 50.0;
// More than this many clicks from one message is not a person scrolling.
constexpr int kMaxNotchesPerMessage = 100;
// Touchpads send every frame or so while the fingers move; wheel notches
// turned one by one come further apart than this.
constexpr std::chrono::milliseconds kScrollPause{100};

class ScrollAccumulator {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit ScrollAccumulator(Clock clock = std::chrono::steady_clock::now);

    // Clicks to send: positive vertical is up (away from the user), positive
    // horizontal is left, as in the deltas.
    struct Notches {
        int vertical = 0;
        int horizontal = 0;
    };

    // Non-finite deltas count as 0 and huge ones are clamped.
    Notches add(double deltaX, double deltaY);
    void reset();

private:
    struct Axis {
        double accumulated = 0;
        // When a delta last came, and which way; 0 before any.
        std::chrono::steady_clock::time_point last;
        int direction = 0;

        int take(double delta, std::chrono::steady_clock::time_point now);
    };

    Clock m_clock;
    Axis m_x;
    Axis m_y;
};

} // namespace velmarin::input
