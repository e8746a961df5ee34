#include "relay/guess_limiter.h"

#include <gtest/gtest.h>

using velmarin::relay::guess_limiter;
using namespace std::chrono_literals;

namespace {

const auto t0 = guess_limiter::clock::time_point{} + 1000h;

} // namespace

TEST(GuessLimiter, AllowsABurstPerAddressThenOneTryPerRefillPeriod) {
    guess_limiter limiter({3, 10s}, {100, 1s});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(limiter.wait_time("10.0.0.1", "111111111", t0), 0s);
        limiter.record_failure("10.0.0.1", "111111111", t0);
    }
    EXPECT_EQ(limiter.wait_time("10.0.0.1", "111111111", t0), 10s);
    EXPECT_EQ(limiter.wait_time("10.0.0.1", "222222222", t0 + 4s), 6s); // any target
    EXPECT_EQ(limiter.wait_time("10.0.0.2", "111111111", t0), 0s);      // other addresses
    EXPECT_EQ(limiter.wait_time("10.0.0.1", "111111111", t0 + 10s), 0s);
    limiter.record_failure("10.0.0.1", "111111111", t0 + 10s);
    EXPECT_EQ(limiter.wait_time("10.0.0.1", "111111111", t0 + 10s), 10s);
}

TEST(GuessLimiter, LimitsATargetAcrossAddressesButOnlyBriefly) {
    guess_limiter limiter({100, 1s}, {4, 6s});
    for (int i = 0; i < 4; ++i)
        limiter.record_failure("10.0.1." + std::to_string(i), "333333333", t0);
    EXPECT_EQ(limiter.wait_time("10.9.9.9", "333333333", t0), 6s);
    EXPECT_EQ(limiter.wait_time("10.9.9.9", "444444444", t0), 0s);
    // Once the attack stops the Host is reachable again within one period.
    EXPECT_EQ(limiter.wait_time("10.9.9.9", "333333333", t0 + 6s), 0s);
}

TEST(GuessLimiter, ForgetsKeysThatHaveRefilled) {
    guess_limiter limiter({2, 1s}, {2, 1s});
    for (int i = 0; i < 1023; ++i)
        limiter.record_failure("10.1." + std::to_string(i), "555555555", t0);
    EXPECT_GT(limiter.tracked_keys(), 1000u);
    limiter.record_failure("10.2.0.0", "666666666", t0 + 1h); // the 1024th triggers a sweep
    EXPECT_EQ(limiter.tracked_keys(), 2u);
}
