#include "app/ReconnectionManager.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <thread>

namespace velmarin {
namespace {

using namespace std::chrono_literals;

// Records each requested sleep instead of sleeping.
struct RecordedSleeps {
    std::vector<double> seconds;
    ReconnectionManager::Sleeper sleeper() {
        return [this](std::chrono::nanoseconds duration, std::stop_token) -> QCoro::Task<void> {
            seconds.push_back(std::chrono::duration<double>(duration).count());
            co_return;
        };
    }
};

TEST(ReconnectionManager, TenWaitsCappedAtThirtySecondsWithinTwentyPercentThenNo) {
    // Without jitter, and at both ends of it.
    for (const double jitter : {0.0, -0.2, 0.2}) {
        RecordedSleeps sleeps;
        ReconnectionManager manager([jitter] { return jitter; }, sleeps.sleeper());
        for (int i = 0; i < 10; ++i)
            EXPECT_TRUE(QCoro::waitFor(manager.waitForNextAttempt()));
        EXPECT_FALSE(QCoro::waitFor(manager.waitForNextAttempt()));
        EXPECT_EQ(manager.attempt(), 10);
        const std::vector<double> seconds = {1, 2, 4, 8, 16, 30, 30, 30, 30, 30};
        ASSERT_EQ(sleeps.seconds.size(), seconds.size());
        for (std::size_t i = 0; i < seconds.size(); ++i)
            EXPECT_DOUBLE_EQ(sleeps.seconds[i], seconds[i] * (1 + jitter)) << i;

        manager.reset();
        EXPECT_TRUE(QCoro::waitFor(manager.waitForNextAttempt()));
        EXPECT_DOUBLE_EQ(sleeps.seconds.back(), 1 + jitter);
    }

    for (int i = 0; i < 10000; ++i) {
        const double drawn = ReconnectionManager::systemJitter();
        ASSERT_GE(drawn, -0.2);
        ASSERT_LE(drawn, 0.2);
    }
    EXPECT_DOUBLE_EQ(ReconnectionManager::delaySeconds(0, -5.0), 0.1);
}

TEST(ReconnectionManager, CancelledWaitEndsEarlyAndStillSaysYes) {
    ReconnectionManager manager([] { return 0.0; }); // the real sleep: 1 s
    std::stop_source stop;
    QTimer::singleShot(50, [&] { stop.request_stop(); });
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_TRUE(QCoro::waitFor(manager.waitForNextAttempt(stop.get_token())));
    EXPECT_LT(elapsed.elapsed(), 900);
    EXPECT_EQ(manager.attempt(), 1);

    // A request from another thread wakes the sleeper too.
    std::stop_source other;
    std::thread canceller([&] {
        std::this_thread::sleep_for(50ms);
        other.request_stop();
    });
    elapsed.restart();
    EXPECT_TRUE(QCoro::waitFor(manager.waitForNextAttempt(other.get_token())));
    canceller.join();
    EXPECT_LT(elapsed.elapsed(), 1500); // the second wait is 2 s
}

} // namespace
} // namespace velmarin
