// What the Host's video sender and the ping timer see of the connection:
// how long sendData takes to complete for frames of typical sizes (the
// one-frame queue's back-pressure), the throughput that allows, and the time
// of a text round trip Viewer → relay → Host → relay → Viewer.
//
//   build/bench/transport/bench_transport

#include "support/relay/RelayProcess.h"
#include "support/transport/Peer.h"
#include "transport/RelayEndpoint.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using namespace velmarin;

struct Setup {
    Setup() {
        ::setenv("VELMARIN_RELAY_HOST", relay.hostPort().c_str(), 1);
        ::setenv("VELMARIN_RELAY_CA", relay.caFile().c_str(), 1);
        peers = std::make_unique<testing::PairedPeers>(transport::relayURL());
    }
    testing::RelayProcess relay{{"--video-queue-bytes", "67108864"}};
    std::unique_ptr<testing::PairedPeers> peers;
};

Setup& setup() {
    static Setup instance;
    return instance;
}

void BM_SendFrame(benchmark::State& state) {
    auto& peers = *setup().peers;
    const std::vector<std::uint8_t> frame(static_cast<std::size_t>(state.range(0)), 0x42);
    std::atomic<std::int64_t> received{0};
    // Drain on the Viewer's transport thread so the relay never backs up.
    peers.viewer.manager().setOnMessage([&](transport::WebSocketMessage) { ++received; });
    std::int64_t sent = 0;
    for (auto _ : state) {
        if (!peers.host.sendData(frame))
            state.SkipWithError("send failed");
        ++sent;
    }
    while (received.load() < sent)
        std::this_thread::yield();
    state.SetBytesProcessed(sent * state.range(0));
    state.SetItemsProcessed(sent);
}
BENCHMARK(BM_SendFrame)->Arg(16 << 10)->Arg(256 << 10)->Arg(1 << 20)->UseRealTime();

void BM_TextRoundTrip(benchmark::State& state) {
    auto& peers = *setup().peers;
    // The Host answers every text at once, on its transport thread.
    peers.host.manager().setOnMessage([&](transport::WebSocketMessage message) {
        peers.host.manager().sendText(std::move(message.text));
    });
    std::mutex mutex;
    std::condition_variable answered;
    bool pending = false;
    peers.viewer.manager().setOnMessage([&](transport::WebSocketMessage) {
        std::lock_guard lock(mutex);
        pending = false;
        answered.notify_one();
    });
    const std::string ping = R"({"type":"chat","sender":"viewer","text":"x","timestamp":1})";
    for (auto _ : state) {
        {
            std::lock_guard lock(mutex);
            pending = true;
        }
        peers.viewer.manager().sendText(ping);
        std::unique_lock lock(mutex);
        answered.wait(lock, [&] { return !pending; });
    }
}
BENCHMARK(BM_TextRoundTrip)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
