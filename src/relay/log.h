#pragma once

// One line per event on stderr, with a UTC time stamp. Lines from different
// threads never interleave. Session lines name the connection's address and
// never carry passwords, digests or nonces.

#include <string_view>

namespace velmarin::relay {

void log_line(std::string_view text);

// Session events (register, pair, unpair, auth failure, drop); silenced by
// --quiet, which a load test needs.
void log_session(std::string_view text);
void set_session_logging(bool enabled);

} // namespace velmarin::relay
