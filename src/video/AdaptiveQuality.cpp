#include "video/AdaptiveQuality.h"

#include "log/LogSink.h"

#include <algorithm>
#include <numeric>

namespace velmarin::video {
namespace {

constexpr std::size_t kAverageWindow = 10;
constexpr double kDropAboveMs = 200.0;
constexpr double kRaiseBelowMs = 80.0;
constexpr std::size_t kRaiseWindow = 30;
constexpr std::size_t kRaiseMinLowSamples = 25;
constexpr double kLowSampleBelowMs = 100.0;

} // namespace

const std::array<AdaptiveQuality::QualityLevel, 4> AdaptiveQuality::levels{{
    {1920, 1080, 30, 4'000'000, "Hoog"},
    {1920, 1080, 30, 2'000'000, "Gemiddeld"},
    {1280, 720, 24, 1'000'000, "Laag"},
    {960, 540, 15, 500'000, "Zeer laag"},
}};

AdaptiveQuality::AdaptiveQuality(Clock clock)
    : m_clock(std::move(clock)) {}

void AdaptiveQuality::recordLatency(double milliseconds) {
    m_latencyHistory.push_back(milliseconds);
    if (m_latencyHistory.size() > kHistoryMaxSize)
        m_latencyHistory.pop_front();
}

bool AdaptiveQuality::intervalElapsed(std::chrono::steady_clock::time_point now) const {
    return !m_lastLevelChangeTime || now - *m_lastLevelChangeTime >= kMinChangeInterval;
}

std::optional<AdaptiveQuality::QualityLevel> AdaptiveQuality::evaluate() {
    if (m_latencyHistory.size() < kAverageWindow)
        return std::nullopt;
    const auto now = m_clock();
    if (!intervalElapsed(now))
        return std::nullopt;

    const double average =
        std::accumulate(m_latencyHistory.end() - kAverageWindow, m_latencyHistory.end(), 0.0) /
        static_cast<double>(kAverageWindow);

    const char* direction = nullptr;
    if (average > kDropAboveMs && m_currentLevelIndex < static_cast<int>(levels.size()) - 1) {
        ++m_currentLevelIndex;
        direction = "dropped";
    } else if (average < kRaiseBelowMs && m_currentLevelIndex >= 1) {
        const std::size_t window = std::min(kRaiseWindow, m_latencyHistory.size());
        const auto low = std::count_if(m_latencyHistory.end() - static_cast<long>(window),
                                       m_latencyHistory.end(),
                                       [](double sample) { return sample < kLowSampleBelowMs; });
        if (static_cast<std::size_t>(low) < kRaiseMinLowSamples)
            return std::nullopt;
        --m_currentLevelIndex;
        direction = "raised";
    } else {
        return std::nullopt;
    }

    m_lastLevelChangeTime = now;
    logging::log(logging::Level::info, "network", "Quality %s to: %s (avg latency: %ldms)",
                 direction, currentLevel().label.c_str(), static_cast<long>(average));
    return currentLevel();
}

void AdaptiveQuality::setManualLevel(QualityPreset preset) {
    if (const auto index = levelIndex(preset))
        m_currentLevelIndex = *index;
    m_lastLevelChangeTime = m_clock();
}

void AdaptiveQuality::reset() {
    m_currentLevelIndex = kInitialLevelIndex;
    m_latencyHistory.clear();
    m_lastLevelChangeTime.reset();
}

} // namespace velmarin::video
