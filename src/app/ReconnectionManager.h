#pragma once

// Paces attempts to re-open a lost relay connection: capped exponential
// back-off with ±20 % jitter and at most ten waits between resets. It never
// connects by itself. GUI thread only (that serialises its callers).

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <stop_token>

namespace velmarin {

class ReconnectionManager {
public:
    static constexpr int kMaxAttempts = 10;
    static constexpr double kBaseDelaySeconds = 1.0;
    static constexpr double kMaxDelaySeconds = 30.0;

    // A uniform number in [-0.2, 0.2].
    using JitterSource = std::function<double()>;
    using Sleeper = std::function<QCoro::Task<void>(std::chrono::nanoseconds, std::stop_token)>;

    // The system random source and a real, cancellable sleep by default.
    explicit ReconnectionManager(JitterSource jitter = {}, Sleeper sleeper = {});

    // Waits the next back-off delay and returns true, or returns false at once
    // (logging nothing) when the attempts are used up. A stop request ends the
    // wait early and it still returns true: the caller checks its token
    // before connecting.
    QCoro::Task<bool> waitForNextAttempt(std::stop_token stop = {});

    // Starts counting again; call when a reconnect loop starts and after a
    // successful reconnection.
    void reset() { m_attempt = 0; }

    int attempt() const { return m_attempt; }

    // The delay before jitter for the wait after `attempt` earlier ones.
    static double baseDelaySeconds(int attempt);
    // Base delay with jitter applied, never below 0.1 s.
    static double delaySeconds(int attempt, double jitter);
    // The system random source drawn as 53-bit k in [0, 2^53]: -0.2 + 0.4·k/2^53.
    static double systemJitter();

private:
    JitterSource m_jitter;
    Sleeper m_sleeper;
    int m_attempt = 0;
};

} // namespace velmarin
