#include "relay/token_bucket.h"

#include <algorithm>
#include <cmath>

namespace velmarin::relay {

double token_bucket::available(const bucket_rate& rate, clock::time_point now) const {
    const std::chrono::duration<double> elapsed = now - updated_;
    return std::min(rate.burst, tokens_ + std::max(0.0, elapsed.count()) * rate.per_second);
}

double token_bucket::wait_for(const bucket_rate& rate, double amount, clock::time_point now) const {
    const double missing = amount - available(rate, now);
    return missing <= 0 ? 0.0 : missing / rate.per_second;
}

void token_bucket::take(const bucket_rate& rate, double amount, clock::time_point now) {
    tokens_ = std::max(0.0, available(rate, now) - amount);
    updated_ = now;
}

void token_bucket::give(const bucket_rate& rate, double amount, clock::time_point now) {
    tokens_ = std::min(rate.burst, available(rate, now) + amount);
    updated_ = now;
}

double bucket_table::wait_for(const std::string& key, double amount, clock::time_point now) const {
    const auto it = buckets_.find(key);
    if (it == buckets_.end())
        return amount <= rate_.burst ? 0.0 : (amount - rate_.burst) / rate_.per_second;
    return it->second.wait_for(rate_, amount, now);
}

void bucket_table::take(const std::string& key, double amount, clock::time_point now) {
    buckets_.try_emplace(key, rate_, now).first->second.take(rate_, amount, now);
}

void bucket_table::give(const std::string& key, double amount, clock::time_point now) {
    if (const auto it = buckets_.find(key); it != buckets_.end())
        it->second.give(rate_, amount, now);
}

void bucket_table::forget_full(clock::time_point now) {
    std::erase_if(buckets_, [&](const auto& entry) {
        return entry.second.available(rate_, now) >= rate_.burst;
    });
}

long long wait_seconds(double seconds) {
    return std::max(1LL, static_cast<long long>(std::ceil(seconds)));
}

} // namespace velmarin::relay
