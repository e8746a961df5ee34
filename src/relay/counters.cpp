#include "relay/counters.h"

namespace velmarin::relay {

std::string counters::summary() const {
    const auto get = [](const auto& counter) {
        return std::to_string(counter.load(std::memory_order_relaxed));
    };
    return "stats connections=" + get(connections) +
           " connections_total=" + get(connections_total) +
           " connections_refused=" + get(connections_refused) + " hosts=" + get(hosts) +
           " sessions=" + get(sessions) + " sessions_total=" + get(sessions_total) +
           " auth_failures=" + get(auth_failures) + " bytes_in=" + get(bytes_in) +
           " bytes_out=" + get(bytes_out) + " messages_forwarded=" + get(messages_forwarded) +
           " frames_dropped=" + get(frames_dropped) + " slow_closed=" + get(slow_closed);
}

} // namespace velmarin::relay
