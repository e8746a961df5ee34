#pragma once

// Limits failed challenge answers, both per source address and per target
// Host ID, with token buckets: each key may fail `burst` times in a row, then
// earns one more try per `refill` period. With the defaults (5 per address
// then one per 12 s; 10 per ID then one per 6 s) one address gets at most
// 7,200 guesses a day and all addresses together at most 14,400 a day at one
// Host, against 31^6 ≈ 887 million passwords. A Host under attack is
// reachable again one refill period (6 s) after the attack stops, and a
// Viewer's own address is never held back by someone else's failures.
// Thread-safe.

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace velmarin::relay {

class guess_limiter {
public:
    using clock = std::chrono::steady_clock;

    struct limits {
        unsigned burst = 5;
        std::chrono::seconds refill{12};
    };

    guess_limiter(limits per_address, limits per_target);

    // How long the caller must wait before it may try `target` from
    // `address`; zero when a try is allowed now.
    std::chrono::seconds wait_time(const std::string& address, const std::string& target,
                                   clock::time_point now = clock::now());

    // Records one failed answer against both keys.
    void record_failure(const std::string& address, const std::string& target,
                        clock::time_point now = clock::now());

    // Number of keys held; refilled buckets are swept out now and then.
    std::size_t tracked_keys() const;

private:
    struct bucket {
        double tokens = 0;
        clock::time_point updated;
    };
    struct table {
        limits config;
        std::unordered_map<std::string, bucket> buckets;
    };

    static double tokens_now(const table& t, const bucket& b, clock::time_point now);
    static std::chrono::seconds wait_in(const table& t, const std::string& key,
                                        clock::time_point now);
    static void take(table& t, const std::string& key, clock::time_point now);
    void forget_refilled(clock::time_point now);

    mutable std::mutex mutex_;
    table by_address_;
    table by_target_;
    unsigned operations_ = 0;
};

} // namespace velmarin::relay
