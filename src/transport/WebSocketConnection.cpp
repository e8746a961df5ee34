#include "transport/WebSocketConnection.h"

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/version.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <openssl/ssl.h>

#include <iterator>
#include <utility>

namespace velmarin::transport {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;

namespace {

bool isAddressLiteral(const std::string& host) {
    boost::system::error_code error;
    asio::ip::make_address(host, error);
    return !error;
}

} // namespace

WebSocketConnection::WebSocketConnection(asio::io_context& io, asio::ssl::context tls,
                                         ParsedURL endpoint)
    : m_io(io)
    , m_tls(std::move(tls))
    , m_endpoint(std::move(endpoint))
    , m_resolver(io)
    , m_stream(io, m_tls)
    , m_confirmTimer(io) {}

void WebSocketConnection::start(std::function<void(const ErrorCode&)> confirmed) {
    asio::post(m_io, [self = shared_from_this(), confirmed = std::move(confirmed)]() mutable {
        if (self->m_closed) {
            confirmed(asio::error::operation_aborted);
            return;
        }
        self->m_confirmed = std::move(confirmed);
        self->m_resolver.async_resolve(
            self->m_endpoint.host, self->m_endpoint.port,
            [self](const ErrorCode& error, asio::ip::tcp::resolver::results_type results) {
                self->onResolved(error, std::move(results));
            });
    });
}

void WebSocketConnection::onResolved(const ErrorCode& error,
                                     asio::ip::tcp::resolver::results_type results) {
    if (!m_confirmed)
        return;
    if (error) {
        failConnect(error);
        return;
    }
    auto& tcp = beast::get_lowest_layer(m_stream);
    tcp.expires_after(kRequestTimeout);
    tcp.async_connect(results, [self = shared_from_this()](const ErrorCode& error, const auto&) {
        self->onTcpConnected(error);
    });
}

void WebSocketConnection::onTcpConnected(const ErrorCode& error) {
    if (!m_confirmed)
        return;
    if (error) {
        failConnect(error);
        return;
    }
    // Input and control messages are small and must not wait for the ACK of
    // the previous one (Nagle with delayed ACKs held them for up to 40 ms).
    ErrorCode ignored;
    beast::get_lowest_layer(m_stream).socket().set_option(asio::ip::tcp::no_delay(true), ignored);
    auto& tls = m_stream.next_layer();
    // SNI only for names; certificates for addresses are matched by their IP
    // entries, which host_name_verification handles too.
    if (!isAddressLiteral(m_endpoint.host) &&
        !SSL_set_tlsext_host_name(tls.native_handle(), m_endpoint.host.c_str())) {
        failConnect(
            ErrorCode(static_cast<int>(::ERR_get_error()), asio::error::get_ssl_category()));
        return;
    }
    tls.set_verify_mode(asio::ssl::verify_peer);
    tls.set_verify_callback(asio::ssl::host_name_verification(m_endpoint.host));
    beast::get_lowest_layer(m_stream).expires_after(kRequestTimeout);
    tls.async_handshake(
        asio::ssl::stream_base::client,
        [self = shared_from_this()](const ErrorCode& error) { self->onTlsHandshake(error); });
}

void WebSocketConnection::onTlsHandshake(const ErrorCode& error) {
    if (!m_confirmed)
        return;
    if (error) {
        failConnect(error);
        return;
    }
    // From here the WebSocket layer keeps its own time: the handshake within
    // the request time-out, and a silent peer is pinged and dropped after it.
    beast::get_lowest_layer(m_stream).expires_never();
    websocket::stream_base::timeout timeouts;
    timeouts.handshake_timeout = kRequestTimeout;
    timeouts.idle_timeout = kRequestTimeout;
    timeouts.keep_alive_pings = true;
    m_stream.set_option(timeouts);
    m_stream.set_option(websocket::stream_base::decorator([](websocket::request_type& request) {
        request.set(beast::http::field::user_agent, "Velmarin");
    }));
    m_stream.read_message_max(0); // enforced in onRead
    // Client frames are masked through this buffer; the default 4 KiB cuts
    // a video frame into many small TLS records.
    m_stream.write_buffer_bytes(64 * 1024);

    m_stream.async_handshake(
        m_endpoint.hostHeader, m_endpoint.target,
        [self = shared_from_this()](const ErrorCode& error) { self->onWebSocketHandshake(error); });
}

void WebSocketConnection::onWebSocketHandshake(const ErrorCode& error) {
    if (!m_confirmed)
        return;
    if (error) {
        failConnect(error);
        return;
    }
    m_open = true;
    // Pongs only arrive while a read is outstanding, so the read loop starts
    // before the confirming ping goes out.
    m_stream.control_callback([this](websocket::frame_type kind, beast::string_view) {
        if (kind == websocket::frame_type::pong && m_confirmed)
            finishConnect({});
    });
    readNext();
    m_stream.async_ping({}, [self = shared_from_this()](const ErrorCode& error) {
        if (error && self->m_confirmed)
            self->failConnect(error);
    });
    m_confirmTimer.expires_after(kRequestTimeout);
    m_confirmTimer.async_wait(
        [self = shared_from_this()](const ErrorCode& error) { self->onConfirmTimeout(error); });
    if (!m_queue.empty() && !m_writing)
        writeNext();
}

void WebSocketConnection::onConfirmTimeout(const ErrorCode& error) {
    if (error || !m_confirmed)
        return;
    failConnect(beast::error::timeout);
}

void WebSocketConnection::readNext() {
    // Messages are read piece by piece so that the size limit is ours to
    // enforce: the stream's own limit reports the TLS teardown error instead
    // of the real cause when the peer keeps sending.
    m_stream.async_read_some(
        m_readBuffer, kReadChunk,
        [self = shared_from_this()](const ErrorCode& error, std::size_t) { self->onRead(error); });
}

void WebSocketConnection::onRead(const ErrorCode& error) {
    if (error) {
        if (m_confirmed) {
            failConnect(error);
            return;
        }
        if (!m_closed) {
            closeSocket();
            failQueuedWrites();
        }
        if (m_events.readFailed)
            m_events.readFailed(error);
        return;
    }
    if (m_readBuffer.size() > kMaxMessageSize) {
        rejectOversizedMessage();
        return;
    }
    if (!m_stream.is_message_done()) {
        readNext();
        return;
    }
    WebSocketMessage message;
    if (m_stream.got_text()) {
        message = WebSocketMessage::makeText(beast::buffers_to_string(m_readBuffer.data()));
    } else {
        const auto* bytes = static_cast<const std::uint8_t*>(m_readBuffer.data().data());
        message = WebSocketMessage::makeBinary({bytes, bytes + m_readBuffer.size()});
    }
    m_readBuffer.consume(m_readBuffer.size());
    if (m_readBuffer.capacity() > kKeptReadBuffer)
        m_readBuffer.shrink_to_fit();
    if (m_events.message)
        m_events.message(std::move(message));
    readNext();
}

void WebSocketConnection::rejectOversizedMessage() {
    m_readBuffer.clear();
    m_readBuffer.shrink_to_fit();
    if (m_confirmed) {
        failConnect(websocket::error::message_too_big);
        return;
    }
    if (m_closed)
        return;
    m_closed = true;
    failQueuedWrites();
    useShortCloseTimeout();
    m_stream.async_close(websocket::close_code::too_big,
                         [self = shared_from_this()](const ErrorCode&) {
                             self->closeSocket();
                             if (self->m_events.readFailed)
                                 self->m_events.readFailed(websocket::error::message_too_big);
                         });
}

void WebSocketConnection::useShortCloseTimeout() {
    // A peer that does not answer the close frame must not hold the
    // transport thread (and a destructor waiting for it) for long.
    websocket::stream_base::timeout timeouts;
    timeouts.handshake_timeout = std::chrono::seconds(3);
    timeouts.idle_timeout = websocket::stream_base::none();
    timeouts.keep_alive_pings = false;
    m_stream.set_option(timeouts);
}

void WebSocketConnection::write(bool binary, std::string text, std::vector<std::uint8_t> data,
                                std::function<void(const ErrorCode&)> done) {
    asio::post(m_io,
               [self = shared_from_this(), item = Outgoing{binary, std::move(text), std::move(data),
                                                           std::move(done)}]() mutable {
                   if (self->m_closed) {
                       if (item.done)
                           item.done(asio::error::not_connected);
                       return;
                   }
                   if (self->m_queue.size() > kMaxQueuedWrites) {
                       if (item.done)
                           item.done(asio::error::no_buffer_space);
                       return;
                   }
                   self->m_queue.push_back(std::move(item));
                   if (self->m_open && !self->m_writing)
                       self->writeNext();
               });
}

void WebSocketConnection::writeNext() {
    m_writing = true;
    const Outgoing& item = m_queue.front();
    m_stream.binary(item.binary);
    const auto buffer =
        item.binary ? asio::buffer(item.data) : asio::buffer(item.text.data(), item.text.size());
    m_stream.async_write(buffer, [self = shared_from_this()](const ErrorCode& error, std::size_t) {
        self->onWritten(error);
    });
}

void WebSocketConnection::onWritten(const ErrorCode& error) {
    m_writing = false;
    Outgoing item = std::move(m_queue.front());
    m_queue.pop_front();
    if (item.done)
        item.done(error);
    if (!m_closed && !m_queue.empty())
        writeNext();
}

void WebSocketConnection::shutdown() {
    asio::post(m_io, [self = shared_from_this()] {
        if (self->m_closed)
            return;
        auto pending = std::exchange(self->m_confirmed, nullptr);
        if (self->m_open) {
            self->m_closed = true;
            self->m_confirmTimer.cancel();
            self->failQueuedWrites();
            self->useShortCloseTimeout();
            self->m_stream.async_close(websocket::close_code::going_away,
                                       [self](const ErrorCode&) { self->closeSocket(); });
        } else {
            self->closeSocket();
            self->failQueuedWrites();
        }
        if (pending)
            pending(asio::error::operation_aborted);
    });
}

void WebSocketConnection::finishConnect(const ErrorCode& error) {
    m_confirmTimer.cancel();
    auto confirmed = std::exchange(m_confirmed, nullptr);
    confirmed(error);
}

void WebSocketConnection::failConnect(const ErrorCode& error) {
    closeSocket();
    failQueuedWrites();
    finishConnect(error);
}

void WebSocketConnection::closeSocket() {
    m_closed = true;
    m_confirmTimer.cancel();
    m_resolver.cancel();
    beast::get_lowest_layer(m_stream).close();
}

void WebSocketConnection::failQueuedWrites() {
    // The write in flight completes by itself; the others fail in order.
    const auto first = m_queue.begin() + (m_writing ? 1 : 0);
    std::deque<Outgoing> failed(std::make_move_iterator(first),
                                std::make_move_iterator(m_queue.end()));
    m_queue.erase(first, m_queue.end());
    for (Outgoing& item : failed) {
        if (item.done)
            item.done(asio::error::not_connected);
    }
}

} // namespace velmarin::transport
