#pragma once

// One TLS WebSocket connection of WebSocketManager: resolve, TCP, TLS, the
// WebSocket handshake and the confirming ping, then one read outstanding and
// one write outstanding with a bounded queue behind it. Every member runs on
// the manager's transport thread; the public members post there first.

#include "transport/RelayEndpoint.h"
#include "transport/WebSocketMessage.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmarin::transport {

class WebSocketConnection : public std::enable_shared_from_this<WebSocketConnection> {
public:
    using ErrorCode = boost::system::error_code;

    static constexpr std::size_t kMaxMessageSize = 5 * 1024 * 1024;
    static constexpr std::chrono::seconds kRequestTimeout{30};
    static constexpr std::size_t kReadChunk = 64 * 1024;
    // A read buffer grown by a large message is given back above this.
    static constexpr std::size_t kKeptReadBuffer = 256 * 1024;
    // Writes queued behind the one in flight; beyond this a send fails
    // rather than letting memory grow on a stalled connection.
    static constexpr std::size_t kMaxQueuedWrites = 1024;

    struct Events {
        // Called on the transport thread, in arrival order.
        std::function<void(WebSocketMessage)> message;
        // The read loop ended with this error; no further read is made.
        std::function<void(const ErrorCode&)> readFailed;
    };

    WebSocketConnection(boost::asio::io_context& io, boost::asio::ssl::context tls,
                        ParsedURL endpoint);

    // Before start() only.
    void setEvents(Events events) { m_events = std::move(events); }

    // Opens the connection; `confirmed` is called once, with an empty code
    // when the pong of the first ping arrived, or with the failure.
    void start(std::function<void(const ErrorCode&)> confirmed);

    // Queues one message; `done` is called once, when it was written or
    // could not be.
    void write(bool binary, std::string text, std::vector<std::uint8_t> data,
               std::function<void(const ErrorCode&)> done);

    // Closes with 1001 (going away). A pending start fails with
    // operation_aborted; queued writes fail too.
    void shutdown();

private:
    using Stream =
        boost::beast::websocket::stream<boost::beast::ssl_stream<boost::beast::tcp_stream>>;

    struct Outgoing {
        bool binary = false;
        std::string text;
        std::vector<std::uint8_t> data;
        std::function<void(const ErrorCode&)> done;
    };

    void onResolved(const ErrorCode& error, boost::asio::ip::tcp::resolver::results_type results);
    void onTcpConnected(const ErrorCode& error);
    void onTlsHandshake(const ErrorCode& error);
    void onWebSocketHandshake(const ErrorCode& error);
    void onConfirmTimeout(const ErrorCode& error);
    void readNext();
    void onRead(const ErrorCode& error);
    void rejectOversizedMessage();
    void useShortCloseTimeout();
    void writeNext();
    void onWritten(const ErrorCode& error);
    void finishConnect(const ErrorCode& error);
    void failConnect(const ErrorCode& error);
    void closeSocket();
    void failQueuedWrites();

    boost::asio::io_context& m_io;
    boost::asio::ssl::context m_tls; // must outlive m_stream
    ParsedURL m_endpoint;
    Events m_events;
    boost::asio::ip::tcp::resolver m_resolver;
    Stream m_stream;
    boost::asio::steady_timer m_confirmTimer;
    boost::beast::flat_buffer m_readBuffer;
    std::deque<Outgoing> m_queue;
    std::function<void(const ErrorCode&)> m_confirmed;
    bool m_open = false;    // WebSocket handshake done
    bool m_closed = false;  // shutdown() ran or the socket was closed
    bool m_writing = false; // a write is in flight
};

} // namespace velmarin::transport
