#include "support/relay/RelayTestClient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <openssl/ssl.h>

#include <deque>
#include <stdexcept>

namespace velmarin::testing {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

struct RelayTestClient::Impl {
    // Declaration order matters: the stream goes before the io_context, which
    // then drops pending handlers without running them.
    net::io_context io;
    ssl::context tls{ssl::context::tls_client};
    websocket::stream<beast::ssl_stream<beast::tcp_stream>> ws{io, tls};
    beast::flat_buffer buffer;
    std::deque<Message> inbox;
    bool closed = false;
    bool pongSeen = false;

    void startRead() {
        ws.async_read(buffer, [this](beast::error_code ec, std::size_t) {
            if (ec) {
                closed = true;
                return;
            }
            inbox.push_back({!ws.got_text(), beast::buffers_to_string(buffer.data())});
            buffer.consume(buffer.size());
            startRead();
        });
    }

    // Runs the connection until `done` holds or the time is up.
    template <class Done> bool runUntil(Done done, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        io.restart();
        while (!done()) {
            const auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero())
                return false;
            if (io.run_one_for(left) == 0 && io.stopped())
                io.restart();
        }
        return true;
    }

    bool write(std::string_view data, bool binary) {
        if (closed)
            return false;
        std::optional<beast::error_code> result;
        ws.binary(binary);
        ws.async_write(net::buffer(data.data(), data.size()),
                       [&](beast::error_code ec, std::size_t) { result = ec; });
        runUntil([&] { return result.has_value(); }, std::chrono::seconds(30));
        return result && !*result;
    }
};

RelayTestClient::RelayTestClient(std::uint16_t port, const std::string& caFile,
                                 const std::string& path, const std::function<void(ssl_st*)>& tune)
    : m_impl(std::make_unique<Impl>()) {
    auto& d = *m_impl;
    if (tune)
        tune(d.ws.next_layer().native_handle());
    d.tls.load_verify_file(caFile);
    d.tls.set_verify_mode(ssl::verify_peer);
    d.ws.next_layer().set_verify_callback(ssl::host_name_verification("localhost"));
    SSL_set_tlsext_host_name(d.ws.next_layer().native_handle(), "localhost");
    beast::get_lowest_layer(d.ws).connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
    d.ws.next_layer().handshake(ssl::stream_base::client);
    d.ws.read_message_max(64 * 1024 * 1024);
    d.ws.control_callback([&d](websocket::frame_type kind, beast::string_view) {
        if (kind == websocket::frame_type::pong)
            d.pongSeen = true;
    });
    d.ws.handshake("localhost:" + std::to_string(port), path);
    d.startRead();
}

RelayTestClient::~RelayTestClient() {
    close();
}

bool RelayTestClient::sendText(std::string_view text) {
    return m_impl->write(text, false);
}

bool RelayTestClient::sendBinary(std::string_view bytes) {
    return m_impl->write(bytes, true);
}

std::optional<RelayTestClient::Message>
RelayTestClient::receive(std::chrono::milliseconds timeout) {
    auto& d = *m_impl;
    d.runUntil([&] { return !d.inbox.empty() || d.closed; }, timeout);
    if (d.inbox.empty())
        return std::nullopt;
    auto message = std::move(d.inbox.front());
    d.inbox.pop_front();
    return message;
}

bool RelayTestClient::ping(std::chrono::milliseconds timeout) {
    auto& d = *m_impl;
    d.pongSeen = false;
    bool sent = false;
    d.ws.async_ping({}, [&](beast::error_code ec) { sent = !ec; });
    return d.runUntil([&] { return d.pongSeen || d.closed; }, timeout) && d.pongSeen && sent;
}

bool RelayTestClient::waitClosed(std::chrono::milliseconds timeout) {
    auto& d = *m_impl;
    return d.runUntil([&] { return d.closed; }, timeout);
}

bool RelayTestClient::isOpen() const {
    return !m_impl->closed;
}

void RelayTestClient::close() {
    beast::error_code ignored;
    beast::get_lowest_layer(m_impl->ws).socket().close(ignored);
    m_impl->closed = true;
}

ssl_st* RelayTestClient::tlsHandle() {
    return m_impl->ws.next_layer().native_handle();
}

int RelayTestClient::nativeSocket() {
    return beast::get_lowest_layer(m_impl->ws).socket().native_handle();
}

} // namespace velmarin::testing
