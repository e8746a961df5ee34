#include "load_clients.h"

#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <openssl/ssl.h>

#include <cstring>
#include <random>

namespace velmarin::bench {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;

namespace {

constexpr std::size_t kHeader = 14;
constexpr std::size_t kMaxFrame = 200 * 1024;

// Mixed sizes as an encoder produces them: a large keyframe every 90 frames
// (120-200 KB), the rest between 2 and 24 KB.
std::size_t mixed_size(std::uint32_t sequence, std::minstd_rand& random) {
    if (sequence % 90 == 0)
        return 120 * 1024 + random() % (80 * 1024);
    return 2 * 1024 + random() % (22 * 1024);
}

void put_u32(std::string& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

} // namespace

std::uint64_t now_ns() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

std::unique_ptr<ssl::context> client_tls(const std::string& ca_file) {
    auto tls = std::make_unique<ssl::context>(ssl::context::tls_client);
    tls->load_verify_file(ca_file);
    tls->set_verify_mode(ssl::verify_peer);
    SSL_CTX_set_mode(tls->native_handle(), SSL_MODE_RELEASE_BUFFERS);
    return tls;
}

std::unique_ptr<wss_stream> open_wss(net::io_context& io, ssl::context& tls, std::uint16_t port) {
    auto ws = std::make_unique<wss_stream>(net::make_strand(io), tls);
    SSL_set_tlsext_host_name(ws->next_layer().native_handle(), "localhost");
    beast::get_lowest_layer(*ws).connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
    ws->next_layer().handshake(ssl::stream_base::client);
    ws->handshake("localhost:" + std::to_string(port), "/");
    ws->read_message_max(8 * 1024 * 1024);
    ws->auto_fragment(false);
    ws->binary(true);
    return ws;
}

// --- Sender ---------------------------------------------------------------------

frame_sender::frame_sender(std::unique_ptr<wss_stream> ws, frame_plan plan, run_totals& totals)
    : ws_(std::move(ws))
    , plan_(plan)
    , totals_(totals)
    , timer_(ws_->get_executor())
    , frame_(kMaxFrame, 'v') {
    frame_[0] = 1; // version
}

void frame_sender::start(std::chrono::nanoseconds phase) {
    net::dispatch(ws_->get_executor(), [self = shared_from_this(), phase] {
        self->read_next();
        self->next_ = std::chrono::steady_clock::now() + phase;
        self->tick();
    });
}

void frame_sender::stop() {
    net::post(ws_->get_executor(), [self = shared_from_this()] {
        self->stopped_ = true;
        self->timer_.cancel();
        beast::error_code ignored;
        beast::get_lowest_layer(*self->ws_).socket().close(ignored);
    });
}

void frame_sender::read_next() {
    ws_->async_read(read_buffer_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
        if (ec)
            return;
        self->read_buffer_.consume(self->read_buffer_.size());
        self->read_next();
    });
}

void frame_sender::tick() {
    if (stopped_)
        return;
    if (plan_.fps <= 0)
        return send_frame(); // paced by the connection itself
    if (writing_)
        totals_.sender_skips.fetch_add(1, std::memory_order_relaxed);
    else
        send_frame();
    next_ += std::chrono::nanoseconds(static_cast<long long>(1e9 / plan_.fps));
    timer_.expires_at(next_);
    timer_.async_wait([self = shared_from_this()](beast::error_code ec) {
        if (!ec)
            self->tick();
    });
}

void frame_sender::send_frame() {
    static thread_local std::minstd_rand random(std::random_device{}());
    const std::uint32_t sequence = sequence_++;
    const std::size_t payload =
        plan_.bytes > 0 ? plan_.bytes - kHeader : mixed_size(sequence, random);
    const bool keyframe = sequence % 90 == 0;
    frame_[1] = keyframe ? 1 : 0;
    put_u32(frame_, 2, 0);
    put_u32(frame_, 6, sequence);
    put_u32(frame_, 10, static_cast<std::uint32_t>(payload));
    const std::uint64_t stamp = now_ns();
    std::memcpy(frame_.data() + kHeader, &stamp, sizeof stamp);
    writing_ = true;
    ws_->async_write(net::buffer(frame_.data(), kHeader + payload),
                     [self = shared_from_this()](beast::error_code ec, std::size_t) {
                         self->writing_ = false;
                         if (!ec && self->plan_.fps <= 0)
                             self->tick();
                     });
}

// --- Receivers ------------------------------------------------------------------

template <class Stream>
class frame_receiver : public stoppable,
                       public std::enable_shared_from_this<frame_receiver<Stream>> {
public:
    frame_receiver(std::unique_ptr<Stream> ws, run_totals& totals)
        : ws_(std::move(ws))
        , totals_(totals) {
        samples_.reserve(4096);
    }
    ~frame_receiver() {
        const std::lock_guard lock(totals_.samples_mutex);
        totals_.latency_us.insert(totals_.latency_us.end(), samples_.begin(), samples_.end());
    }
    void start() {
        net::dispatch(ws_->get_executor(),
                      [self = this->shared_from_this()] { self->read_next(); });
    }
    Stream& stream() { return *ws_; }
    void stop() override {
        net::post(ws_->get_executor(), [self = this->shared_from_this()] {
            beast::error_code ignored;
            beast::get_lowest_layer(*self->ws_).socket().close(ignored);
        });
    }

private:
    void read_next() {
        ws_->async_read(buffer_,
                        [self = this->shared_from_this()](beast::error_code ec, std::size_t bytes) {
                            if (ec)
                                return;
                            self->on_message(bytes);
                            self->read_next();
                        });
    }
    void on_message(std::size_t bytes) {
        const auto received = now_ns();
        if (bytes >= kHeader + 8 && !ws_->got_text() &&
            totals_.measuring.load(std::memory_order_relaxed)) {
            std::uint64_t stamp = 0;
            std::memcpy(&stamp, static_cast<const char*>(buffer_.data().data()) + kHeader,
                        sizeof stamp);
            samples_.push_back(static_cast<std::uint32_t>((received - stamp) / 1000));
            totals_.bytes.fetch_add(bytes, std::memory_order_relaxed);
            totals_.frames.fetch_add(1, std::memory_order_relaxed);
        }
        buffer_.consume(buffer_.size());
    }

    std::unique_ptr<Stream> ws_;
    run_totals& totals_;
    beast::flat_buffer buffer_;
    std::vector<std::uint32_t> samples_;
};

std::shared_ptr<stoppable> start_tls_receiver(std::unique_ptr<wss_stream> ws, run_totals& totals) {
    auto receiver = std::make_shared<frame_receiver<wss_stream>>(std::move(ws), totals);
    receiver->start();
    return receiver;
}

// --- Sink behind nginx ----------------------------------------------------------

using plain_stream = websocket::stream<beast::tcp_stream>;

struct sink_server::state : std::enable_shared_from_this<sink_server::state> {
    net::io_context& io;
    run_totals& totals;
    tcp::acceptor acceptor;
    std::mutex mutex;
    std::vector<std::shared_ptr<frame_receiver<plain_stream>>> receivers;

    state(net::io_context& io_, run_totals& totals_)
        : io(io_)
        , totals(totals_)
        , acceptor(net::make_strand(io_), tcp::endpoint(net::ip::make_address("127.0.0.1"), 0)) {}

    void accept() {
        acceptor.async_accept(net::make_strand(io), [self = shared_from_this()](
                                                        beast::error_code ec, tcp::socket socket) {
            if (ec)
                return;
            auto ws = std::make_unique<plain_stream>(std::move(socket));
            ws->read_message_max(8 * 1024 * 1024);
            auto receiver =
                std::make_shared<frame_receiver<plain_stream>>(std::move(ws), self->totals);
            receiver->stream().async_accept([receiver](beast::error_code accept_ec) {
                if (!accept_ec)
                    receiver->start();
            });
            {
                const std::lock_guard lock(self->mutex);
                self->receivers.push_back(receiver);
            }
            self->accept();
        });
    }
};

sink_server::sink_server(net::io_context& io, run_totals& totals)
    : state_(std::make_shared<state>(io, totals)) {
    state_->accept();
}

std::uint16_t sink_server::port() const {
    return state_->acceptor.local_endpoint().port();
}

void sink_server::stop() {
    net::post(state_->acceptor.get_executor(), [s = state_] {
        beast::error_code ignored;
        s->acceptor.close(ignored);
        const std::lock_guard lock(s->mutex);
        for (auto& r : s->receivers)
            r->stop();
        s->receivers.clear();
    });
}

} // namespace velmarin::bench
