#pragma once

// The shared parts every connection works with; owned by relay_server and
// alive as long as any connection.

#include "relay/counters.h"
#include "relay/guess_limiter.h"
#include "relay/registry.h"
#include "relay/relay_config.h"

namespace velmarin::relay {

struct server_context {
    const relay_config& config;
    counters& stats;
    registry& hosts;
    guess_limiter& limiter;
};

} // namespace velmarin::relay
