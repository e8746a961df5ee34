#include "video/playback/FrameRateMeter.h"

namespace velmarin::video {

FrameRateMeter::FrameRateMeter(Clock clock)
    : m_clock(std::move(clock))
    , m_windowStart(now()) {}

std::chrono::steady_clock::time_point FrameRateMeter::now() const {
    return m_clock ? m_clock() : std::chrono::steady_clock::now();
}

std::optional<double> FrameRateMeter::count() {
    ++m_framesInWindow;
    const auto current = now();
    const double elapsed = std::chrono::duration<double>(current - m_windowStart).count();
    if (elapsed < 1.0)
        return std::nullopt;
    const double fps = m_framesInWindow / elapsed;
    m_framesInWindow = 0;
    m_windowStart = current;
    return fps;
}

} // namespace velmarin::video
