#pragma once

// Steps the Host's stream along a four-rung quality ladder from measured
// round-trip latencies: one rung down when the recent average is high, one up
// after a sustained stretch of low latency, at most one change per 3 seconds.
// A plain class for one thread (the GUI thread), which serialises its calls.

#include "video/QualityPreset.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>

namespace velmarin::video {

class AdaptiveQuality {
public:
    struct QualityLevel {
        int width = 0;
        int height = 0;
        int fps = 0;
        int bitrate = 0; // bits per second
        std::string label;

        bool operator==(const QualityLevel&) const = default;
    };

    // Index 0 is the best quality. Only `fps` and `bitrate` are applied to
    // the stream; the capture size follows the display.
    static const std::array<QualityLevel, 4> levels;

    static constexpr int kInitialLevelIndex = 1;
    static constexpr std::size_t kHistoryMaxSize = 50;
    static constexpr std::chrono::duration<double> kMinChangeInterval{3.0};

    // A monotonic clock, so that changing the system time never freezes or
    // rushes the ladder. Injectable for tests.
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    explicit AdaptiveQuality(Clock clock = [] { return std::chrono::steady_clock::now(); });

    void recordLatency(double milliseconds);

    // The new level when the rung changed, nothing otherwise.
    std::optional<QualityLevel> evaluate();

    // Jumps to the preset's rung (automatic keeps the rung); either way the
    // 3-second interval starts again. The history stays.
    void setManualLevel(QualityPreset preset);

    // Rung 1, empty history, and the next evaluation may change at once.
    void reset();

    const QualityLevel& currentLevel() const { return levels[m_currentLevelIndex]; }
    int currentLevelIndex() const { return m_currentLevelIndex; }
    const std::deque<double>& latencyHistory() const { return m_latencyHistory; }

private:
    bool intervalElapsed(std::chrono::steady_clock::time_point now) const;

    Clock m_clock;
    int m_currentLevelIndex = kInitialLevelIndex;
    std::deque<double> m_latencyHistory; // oldest first
    // Nothing stands for "never changed".
    std::optional<std::chrono::steady_clock::time_point> m_lastLevelChangeTime;
};

} // namespace velmarin::video
