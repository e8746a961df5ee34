#pragma once

// Server-side TLS straight on OpenSSL and the connection's socket.
//
// The relay holds thousands of mostly idle connections. Asio's ssl::stream
// keeps four 17 KB buffers per connection for its whole life (two of its own,
// two in a BIO pair); here OpenSSL reads from and writes to the socket
// itself, and with SSL_MODE_RELEASE_BUFFERS an idle connection holds no
// record buffer at all. The socket is non-blocking: an SSL call that cannot
// go on waits for the socket to become readable or writable, then is retried
// with the same arguments, as OpenSSL requires.
//
// Meets Beast's AsyncStream requirements (websocket::stream<lean_tls_stream>),
// including teardown and close_socket. Use from one strand only.

#include <boost/asio/compose.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/role.hpp>
#include <openssl/ssl.h>

#include <memory>
#include <vector>

namespace velmarin::relay {

class lean_tls_stream {
public:
    using socket_type = boost::asio::ip::tcp::socket;
    using executor_type = socket_type::executor_type;

    lean_tls_stream(socket_type&& socket, SSL_CTX* context);

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

    template <class ConstBuffers, class Token>
    auto async_write_some(const ConstBuffers& buffers, Token&& token) {
        // A WebSocket frame comes as a small header and its payload; sending
        // them as one TLS record saves a record and a system call. Only one
        // write is under way at a time, so one coalescing buffer serves them
        // all until release_write_buffer().
        std::size_t first_size = 0;
        const void* first = nullptr;
        bool coalesced = false;
        for (auto it = boost::asio::buffer_sequence_begin(buffers);
             it != boost::asio::buffer_sequence_end(buffers); ++it) {
            const boost::asio::const_buffer b = *it;
            if (b.size() == 0)
                continue;
            if (!first) {
                first = b.data();
                first_size = b.size();
                if (first_size >= kCoalesceBelow)
                    break;
                continue;
            }
            if (!coalesced) {
                coalesced = true;
                scratch_.reserve(std::min(boost::asio::buffer_size(buffers), kRecordSize));
                scratch_.assign(static_cast<const char*>(first),
                                static_cast<const char*>(first) + first_size);
            }
            const auto take = std::min(b.size(), kRecordSize - scratch_.size());
            scratch_.insert(scratch_.end(), static_cast<const char*>(b.data()),
                            static_cast<const char*>(b.data()) + take);
            if (scratch_.size() >= kRecordSize)
                break;
        }
        writing_ = true;
        if (coalesced)
            return async_run(operation::write, scratch_.data(), scratch_.size(),
                             std::forward<Token>(token));
        return async_run(operation::write, const_cast<void*>(first), first_size,
                         std::forward<Token>(token));
    }

    // Gives back the coalescing buffer unless a write still uses it.
    void release_write_buffer() {
        if (!writing_)
            std::vector<char>().swap(scratch_);
    }

private:
    enum class operation { handshake, read, write };
    enum class next_step { done, wait_read, wait_write };

    static constexpr std::size_t kRecordSize = 16 * 1024;
    static constexpr std::size_t kCoalesceBelow = 1024;

    // One SSL call; `done` with `ec` and `bytes` set, or what to wait for.
    next_step attempt(operation op, void* data, std::size_t size, std::size_t& bytes,
                      boost::system::error_code& ec);

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
            if (op == operation::write)
                stream.writing_ = false;
            self.complete(ec, n);
        }
    };

    template <class Token>
    auto async_run(operation op, void* data, std::size_t size, Token&& token) {
        return boost::asio::async_compose<Token, void(boost::system::error_code, std::size_t)>(
            io_op{*this, op, data, size}, token, socket_);
    }

    socket_type socket_;
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl_;
    std::vector<char> scratch_;
    bool writing_ = false;
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
