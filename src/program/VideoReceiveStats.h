#pragma once

// What a Viewer receives of the Host's video: frames, bytes and key frames,
// per report interval and in total. The headless Viewer prints it. One
// thread (the GUI thread, where the router hands frames over).

#include <QString>

#include <chrono>
#include <cstdint>
#include <vector>

namespace velmarin {

class VideoReceiveStats {
public:
    using Clock = std::chrono::steady_clock;

    explicit VideoReceiveStats(Clock::time_point start = Clock::now());

    // One binary frame message as received (header and payload).
    void record(const std::vector<std::uint8_t>& message);

    // "Video: 30.0 beelden/s, 412.3 kB/s, 1 sleutelbeelden" for the time since
    // the previous report, which starts the next interval.
    QString takeReport(Clock::time_point now = Clock::now());
    // The whole run, for the last line.
    QString summary(Clock::time_point now = Clock::now()) const;

    std::uint64_t totalFrames() const { return m_total.frames; }
    std::uint64_t totalKeyframes() const { return m_total.keyframes; }

private:
    struct Counts {
        std::uint64_t frames = 0;
        std::uint64_t bytes = 0;
        std::uint64_t keyframes = 0;
    };
    static QString describe(const Counts& counts, double seconds);

    Clock::time_point m_start;
    Clock::time_point m_intervalStart;
    Counts m_interval;
    Counts m_total;
};

} // namespace velmarin
