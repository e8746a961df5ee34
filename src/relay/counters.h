#pragma once

// Process-wide counters, updated lock-free from every connection's strand and
// printed periodically as one line.

#include <atomic>
#include <cstdint>
#include <string>

namespace velmarin::relay {

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

    static void add(std::atomic<std::uint64_t>& counter, std::uint64_t n = 1) {
        counter.fetch_add(n, std::memory_order_relaxed);
    }
    static void add(std::atomic<std::int64_t>& counter, std::int64_t n = 1) {
        counter.fetch_add(n, std::memory_order_relaxed);
    }

    std::string summary() const;
};

} // namespace velmarin::relay
