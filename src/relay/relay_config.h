#pragma once

// Everything an operator can set on the command line, with the defaults the
// relay runs with when nothing is given.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmarin::relay {

struct relay_config {
    std::string listen_address = "0.0.0.0";
    std::uint16_t port = 8766;
    std::string cert_file;
    std::string key_file;
    unsigned threads = 0; // 0 = one per core

    std::size_t max_connections = 20000;
    std::size_t max_message_bytes = 5 * 1024 * 1024;
    std::chrono::seconds handshake_timeout{10};
    // No frame at all for this long closes the connection; the relay pings
    // half-way, so a live client that is merely quiet is never closed.
    std::chrono::seconds idle_timeout{30};
    // A connection that neither registers, connects nor asks presence in time.
    std::chrono::seconds unauthenticated_timeout{30};
    std::size_t max_presence_ids = 256;

    // Outgoing queue per connection. Video beyond `video_queue_bytes` is
    // dropped; control messages beyond `control_queue_bytes` close the
    // connection that cannot take them.
    std::size_t video_queue_bytes = 4 * 1024 * 1024;
    std::size_t control_queue_bytes = 16 * 1024 * 1024;
    // All connections' queues together. Past it the relay refuses new
    // pairings until queues drain or their connections close.
    std::size_t queue_budget_bytes = std::size_t{512} * 1024 * 1024;
    // One write that has not finished after this long means the peer stopped
    // reading: its connection is closed.
    std::chrono::seconds write_timeout{30};
    // Text messages before a connection has registered or been paired; its
    // video is skipped unstored meanwhile, whatever its size.
    std::size_t unregistered_message_bytes = 16 * 1024;

    // Failed challenge answers: a burst, then one more per refill period;
    // per ID the refill period grows tenfold at 10 and 100 times the burst.
    unsigned address_failure_burst = 5;
    std::chrono::seconds address_refill{12};
    unsigned target_failure_burst = 10;
    std::chrono::seconds target_refill{6};

    // Per network (IPv4 /24, IPv6 /64): a burst, then one more per refill.
    unsigned network_failure_burst = 20;
    std::chrono::seconds network_refill{3};
    // Presence IDs per minute (also the burst): per connection, address, network.
    std::size_t presence_per_connection = 1000;
    std::size_t presence_per_address = 12000;
    std::size_t presence_per_network = 48000;
    // Open connections per address and per network.
    std::size_t connections_per_address = 1000;
    std::size_t connections_per_network = 4000;
    // Which password each ID was last registered with, kept this long after
    // its last use; in memory only without a state file.
    std::string state_file;
    std::chrono::seconds reservation_keep{30 * 86400};
    std::size_t max_reservations = 200000;

    std::chrono::seconds stats_interval{60}; // 0 = no periodic counter line
    bool quiet = false;                      // no per-session log lines
    bool check_only = false;                 // --check-config: check, report, exit
};

} // namespace velmarin::relay
