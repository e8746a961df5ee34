#pragma once

// The shared parts every connection works with; owned by relay_server and
// alive as long as any connection.

#include "relay/connection_caps.h"
#include "relay/counters.h"
#include "relay/guess_limiter.h"
#include "relay/presence_limiter.h"
#include "relay/registry.h"
#include "relay/relay_config.h"

namespace velmarin::relay {

struct server_context {
    const relay_config& config;
    counters& stats;
    registry& hosts;
    guess_limiter& limiter;
    presence_limiter& presence;
    connection_caps& caps;
};

} // namespace velmarin::relay
