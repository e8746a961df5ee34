#include "input/ScrollAccumulator.h"

#include <algorithm>
#include <cmath>

namespace velmarin::input {

ScrollAccumulator::ScrollAccumulator(Clock clock)
    : m_clock(std::move(clock)) {}

int ScrollAccumulator::Axis::take(double delta, std::chrono::steady_clock::time_point now) {
    constexpr double limit = kScrollPixelsPerNotch * kMaxNotchesPerMessage;
    delta = std::isfinite(delta) ? std::clamp(delta, -limit, limit) : 0.0;
    if (delta == 0)
        return 0;
    const int sign = delta > 0 ? 1 : -1;
    const bool starts = sign != direction || now - last >= kScrollPause;
    direction = sign;
    last = now;
    // Turning back or starting anew begins afresh: a remainder from the
    // other direction would swallow the first notch, an old one would make
    // the click come early.
    if (starts)
        accumulated = 0;
    accumulated += delta;
    const double notches = std::trunc(accumulated / kScrollPixelsPerNotch);
    accumulated -= notches * kScrollPixelsPerNotch;
    if (notches == 0 && starts) {
        // A small delta after a pause is a wheel notch from a Viewer that
        // sends its wheel's own units: one click, and it is used up.
        accumulated = 0;
        return sign;
    }
    return static_cast<int>(notches);
}

ScrollAccumulator::Notches ScrollAccumulator::add(double deltaX, double deltaY) {
    const auto now = m_clock();
    Notches notches;
    notches.horizontal = m_x.take(deltaX, now);
    notches.vertical = m_y.take(deltaY, now);
    return notches;
}

void ScrollAccumulator::reset() {
    m_x = {};
    m_y = {};
}

} // namespace velmarin::input
