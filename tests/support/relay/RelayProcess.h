#pragma once

// A real velmarin-relay for tests, on a free loopback port, trusted through
// a development CA (scripts/dev-cert, created once per build tree).
//
// Usage (link the CMake target `velmarin_test_support`):
//
//     #include "support/relay/RelayProcess.h"
//
//     velmarin::testing::RelayProcess relay;            // started and accepting
//     setenv("VELMARIN_RELAY_HOST", relay.hostPort().c_str(), 1); // "localhost:PORT"
//     setenv("VELMARIN_RELAY_CA", relay.caFile().c_str(), 1);
//     ... connect clients to wss://localhost:<relay.port()> ...
//     relay.restart();   // same port, fresh state (all IDs forgotten)
//     relay.stop();      // clients see the connection drop
//
// The constructor returns once the relay accepts TCP connections, and throws
// std::runtime_error when it cannot start. The destructor kills the process.
// Extra command-line options (for example {"--auth-timeout", "1"}) can be
// passed to the constructor. Each instance picks its own port, so tests may
// run in parallel. The relay's log goes to a file; logText() reads it.

#include <csignal>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velmarin::testing {

class RelayProcess {
public:
    explicit RelayProcess(std::vector<std::string> extraArgs = {});
    ~RelayProcess();
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    std::uint16_t port() const { return m_port; }
    // "localhost:PORT", the value for VELMARIN_RELAY_HOST.
    std::string hostPort() const { return "localhost:" + std::to_string(m_port); }
    // The CA that signed the relay's certificate, for VELMARIN_RELAY_CA.
    std::string caFile() const { return certDir() + "/ca.crt"; }

    // Stops the relay (`signal`, then SIGKILL after 5 s) and starts it
    // again on the same port; returns once it accepts connections. SIGKILL
    // drops every connection without a word, as a crash or a lost network.
    void restart(int signal = SIGTERM);
    // Stops the relay; safe to call twice. restart() brings it back.
    void stop(int signal = SIGTERM);
    pid_t pid() const { return m_pid; }

    // Everything the relay has logged so far (all runs of this instance).
    std::string logText() const;

    // Directory holding ca.crt, relay.crt and relay.key; created on first use.
    static std::string certDir();

private:
    bool startOn(std::uint16_t port); // false when the relay exited (port taken)

    std::vector<std::string> m_extraArgs;
    std::uint16_t m_port = 0;
    pid_t m_pid = -1;
    std::string m_logFile;
};

} // namespace velmarin::testing
