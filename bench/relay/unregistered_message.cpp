// unregistered_message: what one large text costs the relay when it comes
// from a connection that has not registered or been paired.
//
// Fresh connections each send one "ping" padded to --mb MiB, then wait for
// the answer or the close. Prints the relay's processor time per message and
// its peak resident memory.
//
//   build/bench/relay/unregistered_message [--messages 10] [--mb 5]

#include "ProcessProbe.h"
#include "support/relay/RelayProcess.h"
#include "support/relay/RelayTestClient.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

using velmarin::bench::cpuMs;
using velmarin::bench::statusKib;
using velmarin::testing::RelayProcess;
using velmarin::testing::RelayTestClient;

int main(int argc, char** argv) {
    int messages = 10;
    int mb = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--messages")
            messages = std::atoi(argv[i + 1]);
        else if (arg == "--mb")
            mb = std::atoi(argv[i + 1]);
    }
    // Just under the relay's message limit, so that it is read whole where allowed.
    const std::string text = R"({"type":"ping","timestamp":1)" +
                             std::string(static_cast<std::size_t>(mb) * 1024 * 1024 - 64, ' ') +
                             "}";
    RelayProcess relay({"--quiet"});
    const long peak_before = statusKib(relay.pid(), "VmHWM:");
    const double cpu_before = cpuMs(relay.pid());
    int answered = 0;
    for (int i = 0; i < messages; ++i) {
        RelayTestClient client(relay.port(), relay.caFile());
        client.sendText(text);
        if (client.receive(std::chrono::seconds(10)))
            ++answered;
    }
    const double cpu = cpuMs(relay.pid()) - cpu_before;
    std::printf("messages=%d size_mib=%d answered=%d\n", messages, mb, answered);
    std::printf("relay_cpu_ms_per_message=%.1f relay_peak_kib before=%ld after=%ld\n",
                cpu / messages, peak_before, statusKib(relay.pid(), "VmHWM:"));
    return 0;
}
