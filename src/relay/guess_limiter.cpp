#include "relay/guess_limiter.h"

#include <algorithm>

namespace velmarin::relay {
namespace {

bucket_rate rate_of(const guess_limiter::limits& l) {
    return {double(l.burst), 1.0 / static_cast<double>(l.refill.count())};
}

// A Host with no try for this long starts afresh.
constexpr std::chrono::hours kTargetMemory{24};

} // namespace

guess_limiter::guess_limiter(limits per_address, limits per_network, limits per_target)
    : by_address_(rate_of(per_address))
    , by_network_(rate_of(per_network))
    , per_target_(per_target) {}

std::chrono::seconds guess_limiter::interval_after(unsigned attempts) const {
    auto interval = per_target_.refill;
    for (unsigned step = per_target_.burst * 10;
         attempts >= step && interval < 100 * per_target_.refill; step *= 10)
        interval *= 10;
    return interval;
}

std::chrono::seconds guess_limiter::wait_locked(const who& w, clock::time_point now) const {
    double wait =
        std::max(by_address_.wait_for(w.address, 1, now), by_network_.wait_for(w.network, 1, now));
    if (const auto it = targets_.find(w.target); it != targets_.end() && it->second.next_try > now)
        wait = std::max(wait, std::chrono::duration<double>(it->second.next_try - now).count());
    return std::chrono::seconds{wait > 0 ? wait_seconds(wait) : 0};
}

std::chrono::seconds guess_limiter::wait_time(const who& w, clock::time_point now) const {
    const std::lock_guard lock(mutex_);
    return wait_locked(w, now);
}

std::chrono::seconds guess_limiter::reserve(const who& w, clock::time_point now) {
    const std::lock_guard lock(mutex_);
    if (const auto wait = wait_locked(w, now); wait.count() > 0)
        return wait;
    by_address_.take(w.address, 1, now);
    by_network_.take(w.network, 1, now);
    auto& t = targets_[w.target];
    if (now - t.last_try >= kTargetMemory && t.last_try != clock::time_point{})
        t = {};
    ++t.attempts;
    t.last_try = now;
    if (t.attempts >= per_target_.burst)
        t.next_try = now + interval_after(t.attempts);
    if (++operations_ % 1024 == 0)
        sweep(now);
    return std::chrono::seconds{0};
}

std::optional<unsigned> guess_limiter::settle(const who& w, bool success, clock::time_point now) {
    const std::lock_guard lock(mutex_);
    if (success) {
        by_address_.give(w.address, 1, now);
        by_network_.give(w.network, 1, now);
        targets_.erase(w.target);
        return std::nullopt;
    }
    const auto it = targets_.find(w.target);
    if (it == targets_.end())
        return std::nullopt;
    const unsigned failures = ++it->second.failures;
    // Once when the back-off starts and at each step, then every 100 × free.
    const unsigned free = per_target_.burst;
    if (failures == free || failures == 10 * free || failures % (100 * free) == 0)
        return failures;
    return std::nullopt;
}

void guess_limiter::sweep(clock::time_point now) {
    by_address_.forget_full(now);
    by_network_.forget_full(now);
    // Only a quiet day resets a Host: forgetting it sooner would hand out
    // fresh free tries.
    std::erase_if(targets_,
                  [&](const auto& entry) { return now - entry.second.last_try >= kTargetMemory; });
}

std::size_t guess_limiter::tracked_keys() const {
    const std::lock_guard lock(mutex_);
    return by_address_.size() + by_network_.size() + targets_.size();
}

} // namespace velmarin::relay
