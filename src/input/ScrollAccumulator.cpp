#include "input/ScrollAccumulator.h"

#include <algorithm>
#include <cmath>

namespace velmarin::input {

namespace {

int take(double& accumulated, double delta) {
    constexpr double limit = kScrollPixelsPerNotch * kMaxNotchesPerMessage;
    delta = std::isfinite(delta) ? std::clamp(delta, -limit, limit) : 0.0;
    // Turning back starts afresh: a remainder from the other direction
    // would swallow the first notch.
    if (delta * accumulated < 0)
        accumulated = 0;
    accumulated += delta;
    const double notches = std::trunc(accumulated / kScrollPixelsPerNotch);
    accumulated -= notches * kScrollPixelsPerNotch;
    return static_cast<int>(notches);
}

} // namespace

ScrollAccumulator::Notches ScrollAccumulator::add(double deltaX, double deltaY) {
    Notches notches;
    notches.horizontal = take(m_x, deltaX);
    notches.vertical = take(m_y, deltaY);
    return notches;
}

void ScrollAccumulator::reset() {
    m_x = 0;
    m_y = 0;
}

} // namespace velmarin::input
