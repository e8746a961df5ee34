#pragma once

// Limits password guesses at three levels. Per source address and per
// network (IPv4 /24, IPv6 /64) a token bucket: a burst, then one try per
// refill period. Per target Host ID a back-off that grows with the failures
// since the last successful log-in: `free` tries, then one per `refill`,
// from 10 × `free` failures one per 10 × `refill`, from 100 × `free` one per
// 100 × `refill` (defaults: 10 free, then 6 s, 60 s, 600 s). A successful
// log-in resets its Host's back-off and gives the try back to its address and
// network; a Host left alone for a day starts afresh.
//
// A try is reserved (counted and charged) before the answer is compared and
// settled afterwards, so concurrent answers cannot all pass one check.
// Thread-safe.

#include "relay/token_bucket.h"

#include <chrono>
#include <mutex>
#include <optional>
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

    struct who {
        std::string address;
        std::string network;
        std::string target;
    };

    guess_limiter(limits per_address, limits per_network, limits per_target);

    // How long `who` must wait before a try; zero when one is allowed now.
    std::chrono::seconds wait_time(const who& w, clock::time_point now = clock::now()) const;

    // Takes a try when one is allowed now (returns zero), else returns the wait.
    std::chrono::seconds reserve(const who& w, clock::time_point now = clock::now());

    // Settles a reserved try. Returns the Host's failure count when it has
    // just reached a step of its back-off (worth a log line), else nothing.
    std::optional<unsigned> settle(const who& w, bool success,
                                   clock::time_point now = clock::now());

    // Number of keys held; refilled ones are swept out now and then.
    std::size_t tracked_keys() const;

private:
    struct target_state {
        unsigned attempts = 0; // reserved since the last success
        unsigned failures = 0;
        clock::time_point next_try{};
        clock::time_point last_try{};
    };

    std::chrono::seconds wait_locked(const who& w, clock::time_point now) const;
    std::chrono::seconds interval_after(unsigned attempts) const;
    void sweep(clock::time_point now);

    mutable std::mutex mutex_;
    bucket_table by_address_;
    bucket_table by_network_;
    limits per_target_;
    std::unordered_map<std::string, target_state> targets_;
    unsigned operations_ = 0;
};

} // namespace velmarin::relay
