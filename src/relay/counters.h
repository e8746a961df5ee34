#pragma once

// Process-wide counters, updated lock-free from every connection's strand and
// printed periodically as one line.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace velmarin::relay {

// Delays in microseconds on a log scale with eight steps per doubling
// (12.5 %): how long forwarded messages spend in the relay, from the moment
// it takes them from the socket to the moment their copy is on the peer's
// socket, and how long data waited in the socket, from the kernel's arrival
// stamp until the relay took it.
class latency_histogram {
public:
    void record(std::chrono::nanoseconds delay);

    struct figures {
        std::uint64_t count = 0;
        std::uint64_t p50_us = 0; // upper edges of the steps they fall in
        std::uint64_t p99_us = 0;
        std::uint64_t max_us = 0;
    };
    // The figures since the last call, starting over.
    figures take();

    static std::size_t bucket(std::uint64_t us);
    static std::uint64_t upper_edge(std::size_t bucket);

private:
    static constexpr std::size_t kBuckets = 8 * 20; // up to about 17 minutes
    std::array<std::atomic<std::uint64_t>, kBuckets> buckets_{};
};

struct counters {
    std::atomic<std::int64_t> connections{0};        // open now
    std::atomic<std::uint64_t> connections_total{0}; // accepted since start
    std::atomic<std::uint64_t> connections_refused{0};
    std::atomic<std::int64_t> hosts{0};    // registered now
    std::atomic<std::int64_t> sessions{0}; // paired now
    std::atomic<std::uint64_t> sessions_total{0};
    std::atomic<std::uint64_t> auth_failures{0};
    std::atomic<std::uint64_t> bytes_in{0};
    std::atomic<std::uint64_t> bytes_out{0};
    std::atomic<std::uint64_t> messages_forwarded{0};
    std::atomic<std::uint64_t> frames_dropped{0};
    std::atomic<std::uint64_t> slow_closed{0}; // closed for undeliverable control messages
    // Bytes in all outgoing queues now; connections closed for a write
    // that did not finish; "connect" refused because the queues were full.
    std::atomic<std::int64_t> queued_bytes{0};
    std::atomic<std::uint64_t> write_timeouts{0};
    std::atomic<std::uint64_t> connects_refused{0};
    latency_histogram forward_latency;
    latency_histogram socket_wait;

    static void add(std::atomic<std::uint64_t>& counter, std::uint64_t n = 1) {
        counter.fetch_add(n, std::memory_order_relaxed);
    }
    static void add(std::atomic<std::int64_t>& counter, std::int64_t n = 1) {
        counter.fetch_add(n, std::memory_order_relaxed);
    }

    // One log line; the forwarding latency figures cover the time since the
    // previous line.
    std::string summary();
};

} // namespace velmarin::relay
