#pragma once

// How many IDs presence requests may ask about, per source address and per
// network (IPv4 /24, IPv6 /64), in IDs per minute with a minute's worth as
// burst; each connection also has a budget of its own (kept by the
// connection). Keeps the nine-digit ID space from being scanned for online
// Hosts. Thread-safe.

#include "relay/token_bucket.h"

#include <chrono>
#include <mutex>
#include <string>

namespace velmarin::relay {

class presence_limiter {
public:
    using clock = token_bucket::clock;

    presence_limiter(std::size_t per_address_per_minute, std::size_t per_network_per_minute);

    // Takes `ids` from both budgets when both have them (returns zero), else
    // returns the seconds to wait and takes nothing.
    long long take(const std::string& address, const std::string& network, std::size_t ids,
                   clock::time_point now = clock::now());

    static bucket_rate per_minute(std::size_t ids) {
        return {double(ids), static_cast<double>(ids) / 60.0};
    }

private:
    std::mutex mutex_;
    bucket_table by_address_;
    bucket_table by_network_;
    unsigned operations_ = 0;
};

} // namespace velmarin::relay
