// velmarin-relay: the relay server Hosts and Viewers meet through.

#include "relay/command_line.h"
#include "relay/config_check.h"
#include "relay/log.h"
#include "relay/relay_server.h"

#include <csignal>
#include <cstdio>
#include <malloc.h>

int main(int argc, char** argv) {
    using namespace velmarin::relay;
    // A peer that vanishes mid-write must not kill the process.
    std::signal(SIGPIPE, SIG_IGN);
    // Forwarded messages of up to a few hundred kB come and go all the time:
    // keep the freed heap instead of returning and faulting it in again.
    mallopt(M_TRIM_THRESHOLD, 16 << 20);
    mallopt(M_TOP_PAD, 4 << 20);
    const auto parsed = parse_command_line(argc, argv);
    if (const auto* exit = std::get_if<command_line_exit>(&parsed)) {
        std::fputs(exit->text.c_str(), exit->code == 0 ? stdout : stderr);
        return exit->code;
    }
    const auto& config = std::get<relay_config>(parsed);
    if (config.check_only) {
        if (const auto problem = check_config(config)) {
            std::fprintf(stderr, "%s\n", problem->c_str());
            return 1;
        }
        std::puts("Configuratie in orde.");
        return 0;
    }
    set_session_logging(!config.quiet);
    return run_relay(config);
}
