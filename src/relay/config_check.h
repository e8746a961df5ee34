#pragma once

// --check-config: everything the relay would refuse at start-up, found
// before it starts, so an operator (or the package's unit) learns the
// reason without a failed service.

#include "relay/relay_config.h"

#include <optional>
#include <string>

namespace velmarin::relay {

// The first problem found, in Dutch; nothing when the relay could start with
// this configuration (the port itself is not bound: it may be in use by the
// very relay being checked).
std::optional<std::string> check_config(const relay_config& config);

} // namespace velmarin::relay
