#pragma once

// Scroll deltas travel as pixels; X applications scroll by wheel clicks.
// The Viewer turns one wheel notch into kScrollPixelsPerNotch pixels and the
// Host turns every full kScrollPixelsPerNotch back into one click, keeping
// the remainder, so small trackpad deltas add up and a notch stays a notch.

namespace velmarin::input {

constexpr double kScrollPixelsPerNotch = 50.0;
// More than this many clicks from one message is not a person scrolling.
constexpr int kMaxNotchesPerMessage = 100;

class ScrollAccumulator {
public:
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
    double m_x = 0;
    double m_y = 0;
};

} // namespace velmarin::input
