#pragma once

// Token buckets for the relay's rate limits: a bucket holds up to `burst`
// tokens and earns `per_second` back over time. One bucket for a single
// owner (a connection on its strand), or a table of them by key (an address,
// a network). Not thread-safe: the owner locks.

#include <chrono>
#include <string>
#include <unordered_map>

namespace velmarin::relay {

struct bucket_rate {
    double burst = 1;
    double per_second = 1;
};

class token_bucket {
public:
    using clock = std::chrono::steady_clock;

    token_bucket(const bucket_rate& rate, clock::time_point now)
        : tokens_(rate.burst)
        , updated_(now) {}

    double available(const bucket_rate& rate, clock::time_point now) const;
    // Seconds until `amount` tokens are there; zero when they are now.
    double wait_for(const bucket_rate& rate, double amount, clock::time_point now) const;
    void take(const bucket_rate& rate, double amount, clock::time_point now);
    void give(const bucket_rate& rate, double amount, clock::time_point now);

private:
    double tokens_;
    clock::time_point updated_;
};

class bucket_table {
public:
    using clock = token_bucket::clock;

    explicit bucket_table(const bucket_rate& rate)
        : rate_(rate) {}

    double wait_for(const std::string& key, double amount, clock::time_point now) const;
    void take(const std::string& key, double amount, clock::time_point now);
    void give(const std::string& key, double amount, clock::time_point now);
    // Drops the buckets that are full again: an absent key is a full bucket.
    void forget_full(clock::time_point now);
    std::size_t size() const { return buckets_.size(); }

private:
    bucket_rate rate_;
    std::unordered_map<std::string, token_bucket> buckets_;
};

// Whole seconds a caller is told to wait, never zero for a refused request.
long long wait_seconds(double seconds);

} // namespace velmarin::relay
