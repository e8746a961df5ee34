#include "relay/relay_server.h"

#include "relay/connection_caps.h"
#include "relay/counters.h"
#include "relay/guess_limiter.h"
#include "relay/id_reservations.h"
#include "relay/listener.h"
#include "relay/log.h"
#include "relay/presence_limiter.h"
#include "relay/registry.h"
#include "relay/server_context.h"
#include "relay/tls_context.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <functional>
#include <thread>
#include <vector>

namespace velmarin::relay {

namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

void schedule_stats(net::steady_timer& timer, counters& stats, std::chrono::seconds every) {
    timer.expires_after(every);
    timer.async_wait([&timer, &stats, every](boost::system::error_code ec) {
        if (ec)
            return;
        log_line(stats.summary());
        schedule_stats(timer, stats, every);
    });
}

// Reservations reach the disk within this long of a change (and at a clean
// stop); a crash loses at most this much.
constexpr std::chrono::seconds kStateSaveInterval{10};

void save_state(id_reservations& reservations, const std::string& path) {
    std::string error;
    if (!reservations.save(path, error))
        log_line("reservations not saved: " + error);
}

void schedule_state_save(net::steady_timer& timer, id_reservations& reservations,
                         const std::string& path) {
    timer.expires_after(kStateSaveInterval);
    timer.async_wait([&timer, &reservations, &path](boost::system::error_code ec) {
        if (ec)
            return;
        save_state(reservations, path);
        schedule_state_save(timer, reservations, path);
    });
}

} // namespace

int run_relay(const relay_config& config) {
    auto tls = make_tls_context(config.cert_file, config.key_file);
    if (!tls.context) {
        log_line(tls.error);
        return 1;
    }
    boost::system::error_code ec;
    const auto address = net::ip::make_address(config.listen_address, ec);
    if (ec) {
        log_line("Ongeldig luisteradres: " + config.listen_address);
        return 1;
    }

    net::io_context io(static_cast<int>(config.threads));
    counters stats;
    id_reservations reservations(config.reservation_keep, config.max_reservations);
    if (!config.state_file.empty())
        log_line(reservations.load(config.state_file));
    registry hosts(stats, reservations);
    guess_limiter limiter({config.address_failure_burst, config.address_refill},
                          {config.network_failure_burst, config.network_refill},
                          {config.target_failure_burst, config.target_refill});
    presence_limiter presence(config.presence_per_address, config.presence_per_network);
    connection_caps caps(config.connections_per_address, config.connections_per_network);
    server_context context{config, stats, hosts, limiter, presence, caps};

    std::string error;
    const auto acceptor = std::make_shared<listener>(io, *tls.context, context,
                                                     tcp::endpoint(address, config.port), error);
    if (!error.empty()) {
        log_line(error);
        return 1;
    }
    acceptor->run();

    // USR1 asks for the counter line now (and starts a new latency window).
    net::signal_set report(io, SIGUSR1);
    const std::function<void()> on_report = [&] {
        report.async_wait([&](boost::system::error_code ec, int) {
            if (ec)
                return;
            log_line(stats.summary());
            on_report();
        });
    };
    on_report();
    net::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](boost::system::error_code, int signal) {
        log_line("signal " + std::to_string(signal) + ": shutting down");
        acceptor->stop();
        report.cancel();
        io.stop();
    });
    net::steady_timer stats_timer(io);
    if (config.stats_interval.count() > 0)
        schedule_stats(stats_timer, stats, config.stats_interval);
    net::steady_timer state_timer(io);
    if (!config.state_file.empty())
        schedule_state_save(state_timer, reservations, config.state_file);

    const auto endpoint = acceptor->local_endpoint();
    log_line("velmarin-relay " VELMARIN_VERSION " listening on wss://" +
             endpoint.address().to_string() + ":" + std::to_string(endpoint.port()) + "/ with " +
             std::to_string(config.threads) + " threads");

    std::vector<std::thread> workers;
    for (unsigned i = 1; i < config.threads; ++i)
        workers.emplace_back([&io] { io.run(); });
    io.run();
    for (auto& worker : workers)
        worker.join();
    if (!config.state_file.empty())
        save_state(reservations, config.state_file);
    log_line(stats.summary());
    return 0;
}

} // namespace velmarin::relay
