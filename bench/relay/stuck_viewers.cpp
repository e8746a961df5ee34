// stuck_viewers: what Viewers that stop reading cost the relay.
//
// Pairs N Hosts and Viewers on a relay on loopback. Each Viewer stops reading
// while its Host sends a few MB of video, so it piles up in the relay's
// queue; then the Viewer half-closes its socket and never reads again.
// After a wait longer than the idle time-out, prints the relay's resident
// memory and how many of its connections still sit in CLOSE-WAIT (half
// closed by the Viewer, never closed by the relay).
//
//   build/bench/relay/stuck_viewers [--viewers 100] [--mb 6] [--wait 6]

#include "ProcessProbe.h"
#include "protocol/CryptoHelper.h"
#include "protocol/ProtocolMessages.h"
#include "protocol/VideoFrame.h"
#include "support/relay/RelayProcess.h"
#include "support/relay/RelayTestClient.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

using velmarin::bench::cpuMs;
using velmarin::bench::statusKib;
using velmarin::testing::RelayProcess;
using velmarin::testing::RelayTestClient;
namespace proto = velmarin::protocol;

namespace {

// Sockets on the relay's port in CLOSE-WAIT (state 08), IPv4 and IPv6.
int close_wait_count(std::uint16_t port) {
    int count = 0;
    for (const char* file : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream table(file);
        std::string line;
        std::getline(table, line); // header
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            const auto colon = local.rfind(':');
            if (state == "08" && colon != std::string::npos &&
                std::stoul(local.substr(colon + 1), nullptr, 16) == port)
                ++count;
        }
    }
    return count;
}

std::string frame(std::uint32_t sequence, bool keyframe, std::size_t payload) {
    const auto head = proto::VideoFrameHeader{.isKeyframe = keyframe,
                                              .sequenceNumber = sequence,
                                              .payloadSize = static_cast<std::uint32_t>(payload)}
                          .encode();
    std::string out(head.begin(), head.end());
    out.append(payload, 'v');
    return out;
}

} // namespace

int main(int argc, char** argv) {
    int viewers = 100;
    int mb = 6;
    int wait_s = 6;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (arg == "--viewers")
            viewers = value;
        else if (arg == "--mb")
            mb = value;
        else if (arg == "--wait")
            wait_s = value;
    }

    RelayProcess relay({"--idle-timeout", "4", "--quiet", "--stats-interval", "0"});
    const long rss_start = statusKib(relay.pid(), "VmRSS:");
    const std::string password = "k7m2pq";
    constexpr std::size_t kFrameBytes = 100 * 1024;
    std::vector<std::unique_ptr<RelayTestClient>> clients;
    // One pair at a time, so that every Viewer half-closes well inside the
    // idle time-out: before that, not reading (so not answering pings) would
    // get it closed anyway.
    for (int i = 0; i < viewers; ++i) {
        auto host = std::make_unique<RelayTestClient>(relay.port(), relay.caFile());
        host->send(
            proto::RegisterMessage{.passwordHash = proto::CryptoHelper::sha256hex(password)});
        const auto id = host->receiveAs<proto::RegisteredMessage>()->id;
        auto viewer = std::make_unique<RelayTestClient>(relay.port(), relay.caFile());
        viewer->send(proto::ConnectMessage{id});
        const auto challenge = viewer->receiveAs<proto::ChallengeMessage>();
        viewer->send(proto::ChallengeResponseMessage{
            proto::CryptoHelper::challengeResponse(password, challenge->nonce)});
        if (viewer->receiveType() != "connected" || host->receiveType() != "viewer_connected") {
            std::fprintf(stderr, "pairing %d failed\n", i);
            return 1;
        }
        // A small receive buffer, as over a slow link: without it loopback
        // would take tens of MB before the relay has to queue anything.
        const int rcvbuf = 64 * 1024;
        ::setsockopt(viewer->nativeSocket(), SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
        for (int f = 0; f < mb * 10; ++f)
            host->sendBinary(frame(static_cast<std::uint32_t>(f), f == 0, kFrameBytes));
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the relay takes it all
        ::shutdown(viewer->nativeSocket(), SHUT_WR);
        clients.push_back(std::move(host));
        clients.push_back(std::move(viewer));
    }
    const long rss_streamed = statusKib(relay.pid(), "VmRSS:");
    std::this_thread::sleep_for(std::chrono::seconds(wait_s));

    std::printf("viewers=%d video_per_viewer_mb=%d idle_timeout_s=4 wait_s=%d\n", viewers, mb,
                wait_s);
    std::printf("relay_rss_kib start=%ld all_half_closed=%ld after_wait=%ld peak=%ld\n", rss_start,
                rss_streamed, statusKib(relay.pid(), "VmRSS:"), statusKib(relay.pid(), "VmHWM:"));
    std::printf("relay_close_wait=%d\n", close_wait_count(relay.port()));
    // The relay's own count of queued bytes (older relays print none).
    ::kill(relay.pid(), SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto log = relay.logText();
    if (const auto at = log.rfind("queued_bytes="); at != std::string::npos)
        std::printf("relay_%s\n", log.substr(at, log.find(' ', at) - at).c_str());
    return 0;
}
