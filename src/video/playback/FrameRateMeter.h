#pragma once

// Frames per second as the Viewer shows them: a window opens at creation (or
// at the last report); the first picture that arrives when at least one
// second has passed closes it and reports the pictures counted in it,
// itself included, divided by the seconds elapsed.

#include <chrono>
#include <functional>
#include <optional>

namespace velmarin::video {

class FrameRateMeter {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // An empty clock means std::chrono::steady_clock.
    explicit FrameRateMeter(Clock clock = {});

    // Counts one picture; the measurement when it closed a window.
    std::optional<double> count();

private:
    std::chrono::steady_clock::time_point now() const;

    Clock m_clock;
    std::chrono::steady_clock::time_point m_windowStart;
    int m_framesInWindow = 0;
};

} // namespace velmarin::video
