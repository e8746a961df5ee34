#include "relay/guess_limiter.h"

#include <algorithm>
#include <cmath>

namespace velmarin::relay {

guess_limiter::guess_limiter(limits per_address, limits per_target) {
    by_address_.config = per_address;
    by_target_.config = per_target;
}

double guess_limiter::tokens_now(const table& t, const bucket& b, clock::time_point now) {
    const std::chrono::duration<double> elapsed = now - b.updated;
    const double earned = elapsed.count() / static_cast<double>(t.config.refill.count());
    return std::min<double>(t.config.burst, b.tokens + std::max(0.0, earned));
}

std::chrono::seconds guess_limiter::wait_in(const table& t, const std::string& key,
                                            clock::time_point now) {
    const auto it = t.buckets.find(key);
    if (it == t.buckets.end())
        return std::chrono::seconds{0};
    const double tokens = tokens_now(t, it->second, now);
    if (tokens >= 1.0)
        return std::chrono::seconds{0};
    const double missing = (1.0 - tokens) * static_cast<double>(t.config.refill.count());
    return std::chrono::seconds{static_cast<long long>(std::ceil(missing))};
}

void guess_limiter::take(table& t, const std::string& key, clock::time_point now) {
    auto [it, inserted] = t.buckets.try_emplace(key, bucket{double(t.config.burst), now});
    it->second.tokens = std::max(0.0, tokens_now(t, it->second, now) - 1.0);
    it->second.updated = now;
}

std::chrono::seconds guess_limiter::wait_time(const std::string& address, const std::string& target,
                                              clock::time_point now) {
    const std::lock_guard lock(mutex_);
    return std::max(wait_in(by_address_, address, now), wait_in(by_target_, target, now));
}

void guess_limiter::record_failure(const std::string& address, const std::string& target,
                                   clock::time_point now) {
    const std::lock_guard lock(mutex_);
    take(by_address_, address, now);
    take(by_target_, target, now);
    // Sweep now and then so the tables hold only keys that are still limited.
    if (++operations_ % 1024 == 0)
        forget_refilled(now);
}

void guess_limiter::forget_refilled(clock::time_point now) {
    for (table* t : {&by_address_, &by_target_}) {
        std::erase_if(t->buckets, [&](const auto& entry) {
            return tokens_now(*t, entry.second, now) >= t->config.burst;
        });
    }
}

std::size_t guess_limiter::tracked_keys() const {
    const std::lock_guard lock(mutex_);
    return by_address_.buckets.size() + by_target_.buckets.size();
}

} // namespace velmarin::relay
