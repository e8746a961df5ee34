#pragma once

// The whole relay: one io_context run by `threads` threads, the listener,
// the registry and limits, periodic counter lines, and a clean stop on
// SIGINT/SIGTERM.

#include "relay/relay_config.h"

#include <string>

namespace velmarin::relay {

// Runs until a stop signal; returns the process exit code. Start-up failures
// (certificate, address in use) are printed in Dutch and return 1.
int run_relay(const relay_config& config);

} // namespace velmarin::relay
