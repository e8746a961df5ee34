#include "relay/address_keys.h"
#include "relay/guess_limiter.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using velmarin::relay::guess_limiter;
using velmarin::relay::network_key;
using namespace std::chrono_literals;

namespace {

const auto t0 = guess_limiter::clock::time_point{} + 1000h;

guess_limiter::who from(const std::string& address, const std::string& target) {
    return {address, network_key(address), target};
}

// Reserves and fails one try; false when it was refused.
bool fail(guess_limiter& limiter, const guess_limiter::who& w, guess_limiter::clock::time_point t) {
    if (limiter.reserve(w, t).count() > 0)
        return false;
    limiter.settle(w, false, t);
    return true;
}

} // namespace

TEST(GuessLimiter, AllowsABurstPerAddressThenOneTryPerRefillPeriod) {
    guess_limiter limiter({3, 10s}, {100, 1s}, {100, 1s});
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(fail(limiter, from("10.0.0.1", "111111111"), t0));
    EXPECT_EQ(limiter.wait_time(from("10.0.0.1", "111111111"), t0), 10s);
    EXPECT_EQ(limiter.reserve(from("10.0.0.1", "222222222"), t0 + 4s), 6s); // any target
    EXPECT_EQ(limiter.wait_time(from("10.0.0.2", "111111111"), t0), 0s);    // other addresses
    EXPECT_TRUE(fail(limiter, from("10.0.0.1", "111111111"), t0 + 10s));
    EXPECT_EQ(limiter.wait_time(from("10.0.0.1", "111111111"), t0 + 10s), 10s);
}

TEST(GuessLimiter, NeighbouringAddressesShareTheirNetworksBudget) {
    guess_limiter limiter({100, 1s}, {4, 30s}, {100, 1s});
    // Four addresses of one /64, then a fifth: the network is spent.
    for (int i = 1; i <= 4; ++i)
        EXPECT_TRUE(fail(limiter, from("2001:db8:1:2::" + std::to_string(i), "111111111"), t0));
    EXPECT_EQ(limiter.reserve(from("2001:db8:1:2:ffff::9", "111111111"), t0), 30s);
    EXPECT_EQ(limiter.reserve(from("2001:db8:1:3::1", "111111111"), t0), 0s); // next /64
    for (int i = 1; i <= 4; ++i)
        EXPECT_TRUE(fail(limiter, from("192.0.2." + std::to_string(i), "111111111"), t0));
    EXPECT_GT(limiter.reserve(from("::ffff:192.0.2.200", "111111111"), t0).count(), 0);
    EXPECT_EQ(limiter.reserve(from("192.0.3.1", "111111111"), t0), 0s);
}

TEST(GuessLimiter, BackOffPerHostGrowsWithFailuresAndResetsOnSuccess) {
    guess_limiter limiter({1000000, 1s}, {1000000, 1s}, {10, 6s});
    auto t = t0;
    unsigned tries = 0;
    std::vector<unsigned> announced;
    // The address has tries to spare: only the Host's back-off applies.
    const auto attempt = [&](bool right) {
        const auto w = from("10.0.0.1", "333333333");
        const auto wait = limiter.reserve(w, t);
        if (wait.count() > 0)
            return wait;
        ++tries;
        if (const auto n = limiter.settle(w, right, t))
            announced.push_back(*n);
        return 0s;
    };
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(attempt(false), 0s) << i;
    EXPECT_EQ(attempt(false), 6s);
    // Waiting out each refusal, count how long 1,001 failures take.
    while (tries < 1001)
        t += attempt(false);
    EXPECT_EQ(attempt(false), 600s);
    // 90 at 6 s, 900 at 60 s, then one at 600 s: over 15 hours.
    EXPECT_NEAR(std::chrono::duration<double>(t - t0).count(), 90 * 6 + 900 * 60 + 600, 5);
    EXPECT_EQ(announced, (std::vector<unsigned>{10, 100, 1000}));
    t += 600s;
    EXPECT_EQ(attempt(true), 0s); // the rightful Viewer
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(attempt(false), 0s);
    // A day without any try also starts afresh.
    t += 25h;
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(attempt(false), 0s);
    EXPECT_EQ(attempt(false), 6s);
}

TEST(GuessLimiter, ConcurrentAnswersCannotAllPassOneCheck) {
    // Many threads answer at once for one Host that has one free try left.
    guess_limiter limiter({1000, 1s}, {1000, 1s}, {10, 600s});
    for (int i = 0; i < 9; ++i)
        ASSERT_TRUE(fail(limiter, from("10.0.0." + std::to_string(i), "444444444"), t0));
    std::atomic<int> granted{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i)
        threads.emplace_back([&, i] {
            if (limiter.reserve(from("10.0.1." + std::to_string(i), "444444444"), t0).count() == 0)
                ++granted;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(granted.load(), 1);
}

TEST(GuessLimiter, ForgetsKeysThatHaveRefilled) {
    guess_limiter limiter({2, 1s}, {2, 1s}, {2000, 1s});
    for (int i = 0; i < 1023; ++i)
        ASSERT_TRUE(
            fail(limiter,
                 from("10." + std::to_string(i / 256) + "." + std::to_string(i % 256) + ".1",
                      "555555555"),
                 t0));
    EXPECT_GT(limiter.tracked_keys(), 1000u);
    fail(limiter, from("10.2.0.0", "666666666"), t0 + 25h); // the 1024th triggers a sweep
    EXPECT_EQ(limiter.tracked_keys(), 3u);
}
