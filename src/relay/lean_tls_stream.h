#pragma once

// Server-side TLS straight on OpenSSL and the connection's socket.
//
// The relay holds thousands of mostly idle connections, so what each one
// keeps matters. OpenSSL does the TLS 1.3 handshake on the socket; once it
// is done the connection's record protection (tls_records.h) takes over
// with the traffic secrets OpenSSL derived, and the SSL object is freed.
// Receive and send buffers exist only while there is something in them.
// Reading decrypts straight into the caller's buffer when it is large
// enough; writing seals from the caller's buffers into the send buffer,
// so a WebSocket frame's header and payload share one record without a copy.
//
// Meets Beast's AsyncStream requirements (websocket::stream<lean_tls_stream>),
// including teardown and close_socket. Use from one strand only.

#include "relay/tls_records.h"

#include <boost/asio/basic_waitable_timer.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/compose.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/role.hpp>
#include <openssl/ssl.h>

#include <array>
#include <chrono>
#include <memory>
#include <span>

namespace velmarin::relay {

// Each connection runs on a strand of the relay's io_context. Naming that
// type, rather than the type-erased default executor, spares every handler
// on the forwarding path a round of type erasure and reference counting.
using connection_executor = boost::asio::strand<boost::asio::io_context::executor_type>;
using connection_socket =
    boost::asio::basic_stream_socket<boost::asio::ip::tcp, connection_executor>;
using connection_timer =
    boost::asio::basic_waitable_timer<std::chrono::steady_clock,
                                      boost::asio::wait_traits<std::chrono::steady_clock>,
                                      connection_executor>;

class lean_tls_stream {
public:
    using socket_type = connection_socket;
    using executor_type = socket_type::executor_type;

    // Server settings this stream relies on: TLS 1.3 only, its cipher
    // suites, no read-ahead during the handshake, and the hook that hands
    // over the traffic secrets.
    static void configure(SSL_CTX* context);

    lean_tls_stream(socket_type&& socket, SSL_CTX* context);
    lean_tls_stream(const lean_tls_stream&) = delete; // OpenSSL holds a pointer to it
    lean_tls_stream& operator=(const lean_tls_stream&) = delete;

    executor_type get_executor() noexcept { return socket_.get_executor(); }
    socket_type& socket() { return socket_; }

    // Sends close_notify if it can without waiting, then closes the socket.
    void shutdown_and_close();

    template <class Token> auto async_handshake(Token&& token) {
        return async_run(operation::handshake, nullptr, 0, std::forward<Token>(token));
    }

    template <class MutableBuffers, class Token>
    auto async_read_some(const MutableBuffers& buffers, Token&& token) {
        for (auto it = boost::asio::buffer_sequence_begin(buffers);
             it != boost::asio::buffer_sequence_end(buffers); ++it) {
            const boost::asio::mutable_buffer b = *it;
            if (b.size() > 0)
                return async_run(operation::read, b.data(), b.size(), std::forward<Token>(token));
        }
        return async_run(operation::read, nullptr, 0, std::forward<Token>(token));
    }

    // Seals up to kMaxWrite bytes of `buffers` at once; the operation then
    // only has to get the records onto the socket.
    template <class ConstBuffers, class Token>
    auto async_write_some(const ConstBuffers& buffers, Token&& token) {
        std::array<std::span<const std::uint8_t>, 8> parts;
        std::size_t count = 0;
        std::size_t total = 0;
        for (auto it = boost::asio::buffer_sequence_begin(buffers);
             it != boost::asio::buffer_sequence_end(buffers) && total < kMaxWrite &&
             count < parts.size();
             ++it) {
            const boost::asio::const_buffer b = *it;
            const auto take = std::min(b.size(), kMaxWrite - total);
            if (take == 0)
                continue;
            parts[count++] = {static_cast<const std::uint8_t*>(b.data()), take};
            total += take;
        }
        writing_ = true;
        send_more_ = more_follows_ || total < boost::asio::buffer_size(buffers);
        const bool sealed = seal({parts.data(), count});
        return async_run(sealed ? operation::write : operation::failed_write, nullptr, total,
                         std::forward<Token>(token));
    }

    // Gives back the send buffer unless a write still uses it.
    void release_write_buffer();

    // Whether another message is to be written right after the current one.
    // Its records are then handed to TCP as "more to come", so a queue of
    // messages leaves in full segments rather than one segment (and one
    // wake-up of the receiver) each. The last one in a queue goes without.
    void more_follows(bool yes) { more_follows_ = yes; }

    // When the data last received reached this machine (the kernel's stamp)
    // and when the relay took it from the socket.
    std::chrono::steady_clock::time_point arrived_at() const { return arrived_at_; }
    std::chrono::steady_clock::time_point taken_at() const { return taken_at_; }

    // When the last write had all its records on the socket; its completion
    // handler may run later.
    std::chrono::steady_clock::time_point flushed_at() const { return flushed_at_; }

private:
    enum class operation { handshake, read, write, failed_write };
    enum class next_step { done, wait_read, wait_write };

    // Content sealed per write: four full records, one system call.
    static constexpr std::size_t kMaxWrite = 4 * record_protection::kMaxContent;
    // Room for two whole records, so one receive can take several.
    static constexpr std::size_t kReceiveBuffer = 2 * record_protection::kMaxRecord;

    struct byte_buffer {
        std::unique_ptr<std::uint8_t[]> data;
        std::size_t capacity = 0;
        std::size_t begin = 0;
        std::size_t end = 0;

        std::size_t size() const { return end - begin; }
        void release() { *this = {}; }
    };

    // One step of an operation; `done` with `ec` and `bytes` set, or what to
    // wait for.
    next_step attempt(operation op, void* data, std::size_t size, std::size_t& bytes,
                      boost::system::error_code& ec);
    next_step handshake_step(boost::system::error_code& ec);
    next_step read_step(std::uint8_t* data, std::size_t size, std::size_t& bytes,
                        boost::system::error_code& ec);
    next_step flush_step(boost::system::error_code& ec);
    ssize_t receive(std::uint8_t* data, std::size_t size);
    bool finish_handshake();
    bool handle_handshake_record(const std::uint8_t* content, std::size_t length);
    bool seal(std::span<const std::span<const std::uint8_t>> parts);
    static void on_key_log(const SSL* ssl, const char* line);

    struct io_op {
        lean_tls_stream& stream;
        operation op;
        void* data;
        std::size_t size;
        bool finished = false;
        bool started = false;
        boost::system::error_code result;
        std::size_t bytes = 0;

        template <class Self> void operator()(Self& self, boost::system::error_code ec = {}) {
            if (finished)
                return complete(self, result, bytes);
            if (ec)
                return complete(self, ec, 0);
            const auto step = stream.attempt(op, data, size, bytes, result);
            if (step == next_step::done) {
                finished = true;
                if (started)
                    return complete(self, result, bytes);
                // Never complete inside the initiating call.
                return boost::asio::post(std::move(self));
            }
            started = true;
            stream.socket_.async_wait(step == next_step::wait_read ? socket_type::wait_read
                                                                   : socket_type::wait_write,
                                      std::move(self));
        }

        template <class Self>
        void complete(Self& self, boost::system::error_code ec, std::size_t n) {
            if (op == operation::write || op == operation::failed_write)
                stream.writing_ = false;
            self.complete(ec, n);
        }
    };

    template <class Token>
    auto async_run(operation op, void* data, std::size_t size, Token&& token) {
        return boost::asio::async_compose<Token, void(boost::system::error_code, std::size_t)>(
            io_op{*this, op, data, size}, token, socket_);
    }

    struct handshake_secrets {
        std::array<std::uint8_t, 48> client{};
        std::array<std::uint8_t, 48> server{};
        std::size_t client_size = 0;
        std::size_t server_size = 0;
        ~handshake_secrets();
    };

    socket_type socket_;
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl_; // until the handshake is done
    std::unique_ptr<handshake_secrets> secrets_;    // likewise
    record_protection opener_{record_protection::direction::open};
    record_protection sealer_{record_protection::direction::seal};
    byte_buffer in_;              // received, not yet opened records
    std::size_t plain_begin_ = 0; // opened content inside `in_` not yet read
    std::size_t plain_end_ = 0;
    byte_buffer out_;        // sealed records not yet sent
    bool protected_ = false; // handshake done, records are ours
    bool writing_ = false;
    bool more_follows_ = false;
    bool send_more_ = false;
    std::chrono::steady_clock::time_point flushed_at_{};
    std::chrono::steady_clock::time_point arrived_at_{};
    std::chrono::steady_clock::time_point taken_at_{};
    bool key_update_due_ = false; // the peer asked for our KeyUpdate
};

// Beast's customisation points, found by argument-dependent lookup.
void beast_close_socket(lean_tls_stream& stream);
void teardown(boost::beast::role_type, lean_tls_stream& stream, boost::system::error_code& ec);

template <class TeardownHandler>
void async_teardown(boost::beast::role_type, lean_tls_stream& stream, TeardownHandler&& handler) {
    stream.shutdown_and_close();
    boost::asio::post(stream.get_executor(),
                      boost::beast::bind_front_handler(std::forward<TeardownHandler>(handler),
                                                       boost::system::error_code{}));
}

} // namespace velmarin::relay
