#pragma once

// The load generator's connections: Hosts that send timestamped video
// frames at a fixed rate (or as fast as the connection takes them),
// receivers that measure each frame's delay, and a plain WebSocket sink that
// stands behind nginx in the comparison run. All run on one io_context.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace velmarin::bench {

using wss_stream =
    boost::beast::websocket::stream<boost::beast::ssl_stream<boost::beast::tcp_stream>>;

// TLS client context trusting the development CA, with idle buffers released.
std::unique_ptr<boost::asio::ssl::context> client_tls(const std::string& ca_file);

// TCP connect, TLS and WebSocket handshake to wss://localhost:port/, done
// synchronously; the stream then runs on its own strand of `io`.
std::unique_ptr<wss_stream> open_wss(boost::asio::io_context& io, boost::asio::ssl::context& tls,
                                     std::uint16_t port);

// What all receivers of one run add up; samples only while `measuring`.
struct run_totals {
    std::atomic<bool> measuring{false};
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<std::uint64_t> frames{0};
    std::atomic<std::uint64_t> sender_skips{
        0}; // a tick came while the last frame was still being written
    std::mutex samples_mutex;
    std::vector<std::uint32_t> latency_us; // merged from the receivers when they stop
};

struct frame_plan {
    std::size_t bytes = 12 * 1024; // 0 = mixed sizes (see load_clients.cpp)
    double fps = 30;               // 0 = as fast as the connection takes them
};

class stoppable {
public:
    virtual ~stoppable() = default;
    virtual void stop() = 0; // closes the connection; any thread
};

// Sends frames on `ws` until stop(); reads and discards what comes back.
class frame_sender : public stoppable, public std::enable_shared_from_this<frame_sender> {
public:
    frame_sender(std::unique_ptr<wss_stream> ws, frame_plan plan, run_totals& totals);
    void start(std::chrono::nanoseconds phase);
    void stop() override;

private:
    void tick();
    void send_frame();
    void read_next();

    std::unique_ptr<wss_stream> ws_;
    frame_plan plan_;
    run_totals& totals_;
    boost::asio::steady_timer timer_;
    std::chrono::steady_clock::time_point next_;
    std::string frame_;
    boost::beast::flat_buffer read_buffer_;
    std::uint32_t sequence_ = 0;
    bool writing_ = false;
    bool stopped_ = false;
};

// Reads frames on a Viewer's connection and records their delay; its
// samples join `totals` when it is destroyed.
std::shared_ptr<stoppable> start_tls_receiver(std::unique_ptr<wss_stream> ws, run_totals& totals);

// Accepts plain WebSocket connections (from nginx) and receives on each.
class sink_server {
public:
    sink_server(boost::asio::io_context& io, run_totals& totals);
    std::uint16_t port() const;
    void stop();

private:
    struct state;
    std::shared_ptr<state> state_;
};

// Nanoseconds on the steady clock, as carried in each frame's payload.
std::uint64_t now_ns();

} // namespace velmarin::bench
