#include "relay/counters.h"

#include <bit>

namespace velmarin::relay {

std::size_t latency_histogram::bucket(std::uint64_t us) {
    if (us < 8)
        return us;
    const int e = std::bit_width(us) - 1; // us lies in [2^e, 2^(e+1))
    const auto step = (us >> (e - 3)) & 7;
    return std::min<std::size_t>(8 * std::size_t(e - 2) + step, kBuckets - 1);
}

std::uint64_t latency_histogram::upper_edge(std::size_t bucket) {
    if (bucket < 8)
        return bucket;
    const auto e = bucket / 8 + 2;
    const auto step = bucket % 8;
    return ((8 + step + 1) << (e - 3)) - 1;
}

void latency_histogram::record(std::chrono::nanoseconds delay) {
    const auto us = static_cast<std::uint64_t>(std::max<std::int64_t>(delay.count(), 0) / 1000);
    buckets_[bucket(us)].fetch_add(1, std::memory_order_relaxed);
}

latency_histogram::figures latency_histogram::take() {
    std::array<std::uint64_t, kBuckets> counts{};
    figures f;
    for (std::size_t i = 0; i < kBuckets; ++i) {
        counts[i] = buckets_[i].exchange(0, std::memory_order_relaxed);
        f.count += counts[i];
    }
    if (f.count == 0)
        return f;
    const auto rank = [&](double q) { return static_cast<std::uint64_t>(q * double(f.count - 1)); };
    std::uint64_t seen = 0;
    bool have_p50 = false;
    for (std::size_t i = 0; i < kBuckets; ++i) {
        if (counts[i] == 0)
            continue;
        seen += counts[i];
        if (!have_p50 && seen > rank(0.50)) {
            f.p50_us = upper_edge(i);
            have_p50 = true;
        }
        if (f.p99_us == 0 && seen > rank(0.99))
            f.p99_us = upper_edge(i);
        f.max_us = upper_edge(i);
    }
    return f;
}

std::string counters::summary() {
    const auto get = [](const auto& counter) {
        return std::to_string(counter.load(std::memory_order_relaxed));
    };
    return "stats connections=" + get(connections) +
           " connections_total=" + get(connections_total) +
           " connections_refused=" + get(connections_refused) + " hosts=" + get(hosts) +
           " sessions=" + get(sessions) + " sessions_total=" + get(sessions_total) +
           " auth_failures=" + get(auth_failures) + " bytes_in=" + get(bytes_in) +
           " bytes_out=" + get(bytes_out) + " messages_forwarded=" + get(messages_forwarded) +
           " frames_dropped=" + get(frames_dropped) + " slow_closed=" + get(slow_closed) +
           " queued_bytes=" + get(queued_bytes) + " write_timeouts=" + get(write_timeouts) +
           " connects_refused=" + get(connects_refused) + [this] {
               const auto f = forward_latency.take();
               const auto w = socket_wait.take();
               return " forward_timed=" + std::to_string(f.count) +
                      " forward_p50_us=" + std::to_string(f.p50_us) +
                      " forward_p99_us=" + std::to_string(f.p99_us) +
                      " forward_max_us=" + std::to_string(f.max_us) +
                      " socket_wait_p50_us=" + std::to_string(w.p50_us) +
                      " socket_wait_p99_us=" + std::to_string(w.p99_us);
           }();
}

} // namespace velmarin::relay
