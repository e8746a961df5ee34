#include "app/ReconnectionManager.h"

#include "app/CancellableSleep.h"
#include "interfaces/Log.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

namespace velmarin {

ReconnectionManager::ReconnectionManager(JitterSource jitter, Sleeper sleeper)
    : m_jitter(jitter ? std::move(jitter) : JitterSource(systemJitter))
    , m_sleeper(sleeper ? std::move(sleeper) : Sleeper(sleepFor)) {}

double ReconnectionManager::baseDelaySeconds(int attempt) {
    // 2^attempt overflows nothing here: from attempt 5 on the cap applies.
    const double exponential = kBaseDelaySeconds * std::ldexp(1.0, std::min(attempt, 62));
    return std::min(exponential, kMaxDelaySeconds);
}

double ReconnectionManager::delaySeconds(int attempt, double jitter) {
    const double base = baseDelaySeconds(attempt);
    return std::max(base + base * jitter, 0.1);
}

double ReconnectionManager::systemJitter() {
    constexpr std::uint64_t kSteps = std::uint64_t{1} << 53;
    std::random_device device;
    std::uniform_int_distribution<std::uint64_t> draw(0, kSteps);
    const std::uint64_t k = draw(device);
    if (k == kSteps)
        return 0.2;
    return -0.2 + 0.4 * std::ldexp(static_cast<double>(k), -53);
}

QCoro::Task<bool> ReconnectionManager::waitForNextAttempt(std::stop_token stop) {
    const int n = m_attempt;
    if (n >= kMaxAttempts)
        co_return false;
    const double jitter = m_jitter();
    m_attempt = n + 1;
    const double delay = delaySeconds(n, jitter);
    qCInfo(Log::network, "Reconnect attempt %ld/%ld in %.1fs", static_cast<long>(m_attempt),
           static_cast<long>(kMaxAttempts), delay);
    co_await m_sleeper(std::chrono::nanoseconds(static_cast<std::int64_t>(delay * 1e9)),
                       std::move(stop));
    co_return true;
}

} // namespace velmarin
