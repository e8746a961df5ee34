// relay_load: load generator for velmarin-relay, with nginx as comparison.
//
// Starts a relay (and nginx, when installed) on loopback, then measures:
//   1. memory per idle connection with --idle connections (10,000),
//   2. N Host/Viewer pairs streaming 12 KB frames at 30 fps: forwarded MB/s,
//      latency p50/p99 from sender to receiver (send time stamped in each
//      payload), the relay's own p50/p99 of the time a message spends inside
//      it (its counter line, asked for with SIGUSR1), CPU and resident
//      memory of the relay,
//   3. a few pairs sending as fast as the connections take it: MB/s per core,
//   4. mixed frame sizes (2-24 KB, 120-200 KB keyframes) at 30 fps,
// each again through nginx (TLS front, plain WebSocket proxy to a sink in
// this process), and prints the figures with the ratio. The run stops itself
// after --time-limit seconds.
//
//   build/bench/relay/relay_load [--pairs 1000] [--seconds 8] [--idle 10000]
//                                [--relay-threads 1] [--no-nginx] [--no-pin]
//                                [--time-limit 240] [--only paced|saturating|mixed]

#include "load_clients.h"
#include "nginx_proxy.h"
#include "process_stats.h"
#include "protocol/CryptoHelper.h"
#include "protocol/ProtocolEncoder.h"
#include "support/relay/RelayProcess.h"

#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace velmarin::bench;
using velmarin::testing::RelayProcess;
namespace proto = velmarin::protocol;
namespace beast = boost::beast;
namespace net = boost::asio;
using namespace std::chrono_literals;

namespace {

struct options {
    int pairs = 1000;
    int frame_bytes = 12 * 1024; // of the paced scenario
    int fps = 30;                // likewise
    int saturating_pairs = 8;
    int mixed_pairs = 100;
    int idle = 10000;
    int seconds = 8;
    int warmup = 2;
    int relay_threads = 1;
    int client_threads = 2;
    int time_limit = 180;
    bool nginx = true;
    std::string only; // one scenario: "paced", "saturating" or "mixed"
    // The server under test on processor 0, this load generator on the
    // others: per-core figures then do not depend on how the two happen to
    // share processors.
    bool pin = true;
};

// Children to kill if the time limit strikes.
std::atomic<pid_t> relay_pid{-1};
std::atomic<pid_t> nginx_pid{-1};

struct result {
    double mb_per_s = 0;
    double frames_per_s = 0;
    double p50_us = 0;
    double p99_us = 0;
    double cpu_cores = 0; // of the relay or nginx during the window
    long rss_kib = 0;
    std::uint64_t skips = 0;
    // The relay's own account (its counter line): p50/p99 of how long
    // messages spent inside it, from taken off the socket to written on, and
    // of how long data waited in its socket before that.
    struct inside_figures {
        double p50_us, p99_us, wait_p50_us, wait_p99_us;
    };
    std::optional<inside_figures> inside;
};

std::uint16_t free_port() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(s);
    return ntohs(a.sin_port);
}

std::string read_text(wss_stream& ws) {
    beast::flat_buffer buffer;
    ws.read(buffer);
    return beast::buffers_to_string(buffer.data());
}

void write_text(wss_stream& ws, const std::string& text) {
    ws.text(true);
    ws.write(net::buffer(text));
    ws.binary(true);
}

// Registers a Host and pairs a Viewer with it, the way the application does.
std::pair<std::unique_ptr<wss_stream>, std::unique_ptr<wss_stream>>
open_pair(net::io_context& io, net::ssl::context& tls, std::uint16_t port) {
    auto host = open_wss(io, tls, port);
    const std::string password = "bench7";
    write_text(*host, *proto::ProtocolEncoder::encode(proto::RegisterMessage{
                          .passwordHash = proto::CryptoHelper::sha256hex(password)}));
    const auto id = proto::ProtocolEncoder::decode<proto::RegisteredMessage>(read_text(*host));
    if (!id)
        throw std::runtime_error("registration failed");
    auto viewer = open_wss(io, tls, port);
    write_text(*viewer, *proto::ProtocolEncoder::encode(proto::ConnectMessage{id->id}));
    const auto challenge =
        proto::ProtocolEncoder::decode<proto::ChallengeMessage>(read_text(*viewer));
    if (!challenge)
        throw std::runtime_error("no challenge");
    write_text(*viewer, *proto::ProtocolEncoder::encode(proto::ChallengeResponseMessage{
                            proto::CryptoHelper::challengeResponse(password, challenge->nonce)}));
    if (proto::ProtocolEncoder::decodeType(read_text(*viewer)) != "connected" ||
        proto::ProtocolEncoder::decodeType(read_text(*host)) != "viewer_connected")
        throw std::runtime_error("pairing failed");
    return {std::move(host), std::move(viewer)};
}

double percentile(std::vector<std::uint32_t>& samples, double p) {
    if (samples.empty())
        return 0;
    const auto k = static_cast<std::size_t>(p * double(samples.size() - 1));
    std::nth_element(samples.begin(), samples.begin() + static_cast<long>(k), samples.end());
    return samples[k];
}

// One measured run: `pairs` senders towards the relay (paired Viewers
// receive) or towards nginx (the sink receives).
// Asks the relay for its counter line (SIGUSR1) and returns the latency
// figures in it, which cover the time since the last request.
std::optional<result::inside_figures> relay_inside_latency(const RelayProcess& relay) {
    const std::regex figures("forward_timed=([0-9]+) forward_p50_us=([0-9]+) "
                             "forward_p99_us=([0-9]+) forward_max_us=[0-9]+ "
                             "socket_wait_p50_us=([0-9]+) socket_wait_p99_us=([0-9]+)");
    const auto count = [&](const std::string& text) {
        return std::distance(std::sregex_iterator(text.begin(), text.end(), figures),
                             std::sregex_iterator());
    };
    const auto before = count(relay.logText());
    ::kill(relay.pid(), SIGUSR1);
    for (int i = 0; i < 100; ++i) {
        const auto text = relay.logText();
        if (count(text) > before) {
            std::smatch last;
            for (auto it = std::sregex_iterator(text.begin(), text.end(), figures);
                 it != std::sregex_iterator(); ++it)
                last = *it;
            if (std::stoull(last[1]) == 0)
                return std::nullopt;
            return result::inside_figures{std::stod(last[2]), std::stod(last[3]),
                                          std::stod(last[4]), std::stod(last[5])};
        }
        std::this_thread::sleep_for(20ms);
    }
    return std::nullopt;
}

result run_load(const options& opt, const std::string& ca_file, const RelayProcess* relay,
                std::uint16_t relay_port, bool through_nginx, int pairs, frame_plan plan) {
    run_totals totals;
    auto tls = client_tls(ca_file);
    auto io_owner = std::make_unique<net::io_context>();
    auto& io = *io_owner;
    std::optional<sink_server> sink;
    std::optional<nginx_proxy> nginx;
    std::vector<std::shared_ptr<stoppable>> connections;
    std::vector<std::shared_ptr<frame_sender>> senders;
    pid_t target = relay_pid.load();

    // Running from the start: behind nginx the sink must accept while the
    // senders' handshakes are still in progress.
    std::vector<std::thread> threads;
    auto work = net::make_work_guard(io);
    for (int i = 0; i < opt.client_threads; ++i)
        threads.emplace_back([&io] { io.run(); });

    if (through_nginx) {
        sink.emplace(io, totals);
        nginx.emplace(free_port(), sink->port(), RelayProcess::certDir());
        nginx_pid = nginx->pid();
        target = nginx->pid();
    }
    if (opt.pin && opt.relay_threads == 1 && !separate_processors(target, 0))
        std::fprintf(stderr, "relay_load: could not pin processes; figures may vary more\n");
    std::fprintf(stderr, "relay_load: %d pairs via %s\n", pairs, through_nginx ? "nginx" : "relay");
    for (int i = 0; i < pairs; ++i) {
        if (through_nginx) {
            senders.push_back(
                std::make_shared<frame_sender>(open_wss(io, *tls, nginx->port()), plan, totals));
        } else {
            auto [host, viewer] = open_pair(io, *tls, relay_port);
            senders.push_back(std::make_shared<frame_sender>(std::move(host), plan, totals));
            connections.push_back(start_tls_receiver(std::move(viewer), totals));
        }
    }
    std::mt19937 random(42);
    const double period_ns = plan.fps > 0 ? 1e9 / plan.fps : 1;
    for (auto& s : senders) {
        s->start(std::chrono::nanoseconds(
            static_cast<long long>(std::uniform_real_distribution<>(0, period_ns)(random))));
    }
    std::this_thread::sleep_for(std::chrono::seconds(opt.warmup));
    std::fprintf(stderr, "relay_load: measuring for %d s\n", opt.seconds);
    if (!through_nginx && relay)
        relay_inside_latency(*relay); // starts the window
    const auto before = sample_process(target);
    const auto start = std::chrono::steady_clock::now();
    totals.measuring = true;
    std::this_thread::sleep_for(std::chrono::seconds(opt.seconds));
    totals.measuring = false;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto after = sample_process(target);
    std::optional<result::inside_figures> inside;
    if (!through_nginx && relay)
        inside = relay_inside_latency(*relay);
    const auto skips = totals.sender_skips.load();

    for (auto& s : senders)
        s->stop();
    for (auto& c : connections)
        c->stop();
    if (sink)
        sink->stop();
    work.reset();
    // The threads end once every connection has closed; a straggler behind
    // nginx must not hold up the run.
    std::atomic<bool> joined{false};
    std::thread stopper([&] {
        for (int i = 0; i < 50 && !joined; ++i)
            std::this_thread::sleep_for(100ms);
        if (!joined)
            io.stop();
    });
    for (auto& t : threads)
        t.join();
    joined = true;
    stopper.join();
    senders.clear();
    connections.clear();
    sink.reset();
    nginx.reset();
    nginx_pid = -1;
    io_owner.reset(); // receivers still held by pending handlers hand in their samples

    result r;
    r.mb_per_s = double(totals.bytes.load()) / elapsed / 1e6;
    r.frames_per_s = double(totals.frames.load()) / elapsed;
    r.p50_us = percentile(totals.latency_us, 0.50);
    r.p99_us = percentile(totals.latency_us, 0.99);
    r.cpu_cores = (after.cpu_seconds - before.cpu_seconds) / elapsed;
    r.rss_kib = after.rss_kib;
    r.skips = skips;
    r.inside = inside;
    return r;
}

// Opens `count` connections and holds them; returns KiB per connection
// added to the target's resident memory.
double idle_memory(const options& opt, const std::string& ca_file, std::uint16_t port, pid_t target,
                   int count) {
    auto tls = client_tls(ca_file);
    std::fprintf(stderr, "relay_load: opening %d idle connections\n", count);
    const auto before = sample_process(target).rss_kib;
    constexpr int kOpeners = 4;
    std::vector<std::unique_ptr<net::io_context>> ios;
    std::vector<std::vector<std::unique_ptr<wss_stream>>> held(kOpeners);
    std::vector<std::thread> openers;
    std::atomic<int> failures{0};
    for (int t = 0; t < kOpeners; ++t)
        ios.push_back(std::make_unique<net::io_context>());
    for (int t = 0; t < kOpeners; ++t) {
        openers.emplace_back([&, t] {
            for (int i = t; i < count; i += kOpeners) {
                try {
                    held[t].push_back(open_wss(*ios[t], *tls, port));
                } catch (const std::exception&) {
                    ++failures;
                }
            }
        });
    }
    for (auto& o : openers)
        o.join();
    (void)opt;
    std::this_thread::sleep_for(1s);
    const auto after = sample_process(target).rss_kib;
    if (failures > 0)
        std::printf("  (%d of %d idle connections failed to open)\n", failures.load(), count);
    const int opened = count - failures.load();
    return opened > 0 ? double(after - before) / opened : 0;
}

void print_row(const char* name, const result& relay, const std::optional<result>& nginx) {
    std::printf("%-34s relay: %8.1f MB/s %7.0f fr/s  p50 %6.0f us  p99 %7.0f us  cpu %4.2f "
                "cores  %6.1f MB/s/core  rss %6.1f MB  skips %llu\n",
                name, relay.mb_per_s, relay.frames_per_s, relay.p50_us, relay.p99_us,
                relay.cpu_cores, relay.mb_per_s / std::max(relay.cpu_cores, 1e-6),
                relay.rss_kib / 1024.0, static_cast<unsigned long long>(relay.skips));
    if (relay.inside)
        std::printf("%-34s        inside the relay (taken off the socket to written on): p50 %.0f "
                    "us  p99 %.0f us; waiting in its socket before: p50 %.0f us  p99 %.0f us\n",
                    "", relay.inside->p50_us, relay.inside->p99_us, relay.inside->wait_p50_us,
                    relay.inside->wait_p99_us);
    if (nginx) {
        std::printf("%-34s nginx: %8.1f MB/s %7.0f fr/s  p50 %6.0f us  p99 %7.0f us  cpu %4.2f "
                    "cores  %6.1f MB/s/core  rss %6.1f MB\n",
                    "", nginx->mb_per_s, nginx->frames_per_s, nginx->p50_us, nginx->p99_us,
                    nginx->cpu_cores, nginx->mb_per_s / std::max(nginx->cpu_cores, 1e-6),
                    nginx->rss_kib / 1024.0);
        const double relay_eff = relay.mb_per_s / std::max(relay.cpu_cores, 1e-6);
        const double nginx_eff = nginx->mb_per_s / std::max(nginx->cpu_cores, 1e-6);
        std::printf("%-34s ratio relay/nginx: throughput per core %.2f, p50 %.2f, p99 %.2f\n", "",
                    relay_eff / nginx_eff, relay.p50_us / std::max(nginx->p50_us, 1.0),
                    relay.p99_us / std::max(nginx->p99_us, 1.0));
    }
    std::fflush(stdout);
}

options parse(int argc, char** argv) {
    options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto next = [&] { return i + 1 < argc ? std::atoi(argv[++i]) : 0; };
        if (a == "--pairs")
            o.pairs = next();
        else if (a == "--seconds")
            o.seconds = std::max(1, next());
        else if (a == "--idle")
            o.idle = next();
        else if (a == "--relay-threads")
            o.relay_threads = std::max(1, next());
        else if (a == "--client-threads")
            o.client_threads = std::max(1, next());
        else if (a == "--time-limit")
            o.time_limit = std::max(10, next());
        else if (a == "--no-nginx")
            o.nginx = false;
        else if (a == "--fps")
            o.fps = std::max(1, next());
        else if (a == "--frame-bytes")
            o.frame_bytes = std::max(64, next());
        else if (a == "--no-pin")
            o.pin = false;
        else if (a == "--only" && i + 1 < argc)
            o.only = argv[++i];
        else {
            std::fprintf(
                stderr,
                "usage: %s [--pairs N] [--seconds S] [--idle N] [--relay-threads N] "
                "[--client-threads N] [--frame-bytes N] [--fps N] [--time-limit S] [--no-nginx] "
                "[--no-pin] [--only paced|saturating|mixed]\n",
                argv[0]);
            std::exit(2);
        }
    }
    return o;
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const auto opt = parse(argc, argv);
    // Each idle connection costs a descriptor here and in the relay (and two
    // in nginx plus one in the sink); the children inherit the raised limit.
    const long files = raise_file_limit();
    std::printf("relay_load: open-file limit %ld, relay threads %d, client threads %d\n", files,
                opt.relay_threads, opt.client_threads);

    std::thread([limit = opt.time_limit] {
        std::this_thread::sleep_for(std::chrono::seconds(limit));
        std::fprintf(stderr, "relay_load: time limit of %d s reached, stopping\n", limit);
        if (relay_pid.load() > 0)
            ::kill(relay_pid.load(), SIGKILL);
        if (nginx_pid.load() > 0)
            ::kill(-nginx_pid.load(), SIGKILL); // master and workers
        std::fflush(stdout);
        std::_Exit(3);
    }).detach();

    const bool nginx = opt.nginx && !nginx_proxy::binary().empty();
    if (opt.nginx && !nginx)
        std::printf("nginx not found: comparison skipped (scripts/install-bench-deps)\n");
    // Every load client comes from the loopback address: lift the caps per
    // address and network.
    const std::vector<std::string> relay_args = {"--threads", std::to_string(opt.relay_threads),
                                                 "--quiet",   "--max-connections",
                                                 "100000",    "--connections-per-address",
                                                 "100000",    "--connections-per-network",
                                                 "100000",    "--auth-timeout",
                                                 "600",       "--idle-timeout",
                                                 "600"};

    // Idle connections first, on fresh processes, so earlier load does not
    // hide in the baseline.
    if (opt.idle > 0) {
        RelayProcess relay(relay_args);
        relay_pid = relay.pid();
        const double per = idle_memory(opt, relay.caFile(), relay.port(), relay.pid(), opt.idle);
        std::printf("%-34s relay: %6.1f KiB per idle connection (%d connections)\n",
                    "idle connections", per, opt.idle);
        if (nginx) {
            net::io_context io;
            run_totals totals;
            sink_server sink(io, totals);
            std::thread sink_thread([&io] {
                auto work = net::make_work_guard(io);
                io.run();
            });
            {
                nginx_proxy proxy(free_port(), sink.port(), RelayProcess::certDir());
                nginx_pid = proxy.pid();
                // nginx needs two descriptors per connection and this process
                // two more (client and sink), all under the same limit.
                const int count = std::min<long>(opt.idle, (files - 1000) / 2);
                const double nginx_per =
                    idle_memory(opt, relay.caFile(), proxy.port(), proxy.pid(), count);
                std::printf("%-34s nginx: %6.1f KiB per idle connection (%d connections; "
                            "its backend sink not counted)\n",
                            "", nginx_per, count);
            }
            nginx_pid = -1;
            sink.stop();
            io.stop();
            sink_thread.join();
        }
        relay_pid = -1;
    }

    RelayProcess relay(relay_args);
    relay_pid = relay.pid();
    const auto kib = [](int bytes) {
        char text[32];
        std::snprintf(text, sizeof text, bytes % 1024 ? "%.1f KB" : "%.0f KB", bytes / 1024.0);
        return std::string(text);
    };
    struct scenario {
        std::string name;
        int pairs;
        frame_plan plan;
    };
    const std::vector<scenario> scenarios = {
        {"paced: " + kib(opt.frame_bytes) + " @ " + std::to_string(opt.fps) + " fps",
         opt.pairs,
         {std::size_t(opt.frame_bytes), double(opt.fps)}},
        {"saturating: 12 KB, no pacing", opt.saturating_pairs, {12 * 1024, 0}},
        {"mixed 2-200 KB @ 30 fps", opt.mixed_pairs, {0, 30}},
    };
    for (const auto& s : scenarios) {
        if (!opt.only.empty() && !s.name.starts_with(opt.only))
            continue;
        std::string name = s.name + " x" + std::to_string(s.pairs);
        const auto r = run_load(opt, relay.caFile(), &relay, relay.port(), false, s.pairs, s.plan);
        std::optional<result> n;
        if (nginx)
            n = run_load(opt, relay.caFile(), nullptr, relay.port(), true, s.pairs, s.plan);
        print_row(name.c_str(), r, n);
    }
    relay_pid = -1;
    return 0;
}
