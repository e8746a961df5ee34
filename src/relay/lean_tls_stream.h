#pragma once

// Server-side TLS on OpenSSL straight on the connection's socket.
//
// The relay holds thousands of mostly idle connections, so what each one
// keeps matters. OpenSSL does everything TLS: the handshake, sealing and
// opening records, KeyUpdate and alerts. This class only carries bytes
// between OpenSSL and the socket through a small BIO of its own, waits on
// the socket with async_wait, and holds a send buffer only while records
// wait for the socket. OpenSSL's own record buffers are released while a
// connection is idle (SSL_MODE_RELEASE_BUFFERS, SSL_free_buffers).
//
// Untrusted input is bounded here, where OpenSSL does not bound it: a run
// of records without application data (KeyUpdates above all, which each
// cost a key derivation) ends the connection, and one read hands the
// event loop back after a bounded number of bytes.
//
// No kernel TLS: OpenSSL 3.0 hands only the sending direction of TLS 1.3
// to the kernel, and the kernels we run on need not have the tls module.
//
// Meets Beast's AsyncStream requirements (websocket::stream<lean_tls_stream>),
// including teardown and close_socket. Use from one strand only.

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
    // suites, read-ahead, and the message callback that counts records.
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

    // Hands up to kMaxWrite bytes of `buffers` to OpenSSL at once; the
    // operation then only has to get the records onto the socket.
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
        const bool sealed = seal({parts.data(), count}, total);
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

    // Limits on what a peer may send without application data in between.
    // Legitimate clients change keys after gigabytes, not every record.
    static constexpr unsigned kMaxKeyUpdatesWithoutData = 8;
    static constexpr unsigned kMaxRecordsWithoutData = 32;
    // Ciphertext one step of a read may take from the socket before it
    // lets other handlers on the thread run.
    static constexpr std::size_t kReadBudget = 64 * 1024;

private:
    enum class operation { handshake, read, write, failed_write };
    enum class next_step { done, wait_read, wait_write, yield };

    // Plaintext of one TLS record.
    static constexpr std::size_t kMaxRecordContent = 16384;
    // Content handed to OpenSSL per write: four full records.
    static constexpr std::size_t kMaxWrite = 4 * kMaxRecordContent;
    // A read stops taking records while this much output (KeyUpdate answers)
    // waits for a peer that does not read.
    static constexpr std::size_t kMaxPendingOutput = 16 * 1024;
    // Our own key changes after this many records, far below AES-GCM's
    // limit per key.
    static constexpr std::uint64_t kRecordsPerKey = std::uint64_t(1) << 22;

    struct byte_buffer {
        std::unique_ptr<std::uint8_t[]> data;
        std::size_t capacity = 0;
        std::size_t begin = 0;
        std::size_t end = 0;

        std::size_t size() const { return end - begin; }
        void release() { *this = {}; }
        void append(const std::uint8_t* bytes, std::size_t n);
    };

    // One step of an operation; `done` with `ec` and `bytes` set, or what to
    // wait for.
    next_step attempt(operation op, void* data, std::size_t size, std::size_t& bytes,
                      boost::system::error_code& ec);
    next_step handshake_step(boost::system::error_code& ec);
    next_step read_step(std::uint8_t* data, std::size_t size, std::size_t& bytes,
                        boost::system::error_code& ec);
    next_step flush_step(boost::system::error_code& ec);
    bool flush_some(bool more, boost::system::error_code& ec);
    boost::system::error_code failure(int ssl_result, int saved_errno);
    bool seal(std::span<const std::span<const std::uint8_t>> parts, std::size_t total);
    bool write_record(const std::uint8_t* data, std::size_t size, bool more);

    // The BIO between OpenSSL and the socket.
    static BIO_METHOD* socket_bio_method();
    int bio_read(BIO* bio, std::uint8_t* data, std::size_t size, std::size_t& done);
    int bio_write(BIO* bio, const std::uint8_t* data, std::size_t size);
    ssize_t receive(std::uint8_t* data, std::size_t size);
    static void on_message(int writing, int version, int content_type, const void* data,
                           std::size_t length, SSL* ssl, void* arg);

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
            if (step == next_step::yield)
                return boost::asio::post(std::move(self));
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

    socket_type socket_;
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl_; // until the socket is closed
    byte_buffer out_; // records OpenSSL produced that the socket did not take yet
    bool established_ = false;
    bool writing_ = false;
    bool more_follows_ = false;
    bool send_more_ = false;
    bool collect_output_ = false; // gather a write's records for one send
    bool bio_more_ = false;       // more records of this write follow
    // What the BIO saw during the current OpenSSL call.
    bool flooded_ = false;
    bool peer_closed_ = false;
    bool budget_spent_ = false;
    int socket_errno_ = 0;
    std::size_t read_budget_ = 0;
    unsigned records_without_data_ = 0;
    unsigned key_updates_without_data_ = 0;
    std::uint64_t records_sealed_ = 0; // since our last KeyUpdate
    std::chrono::steady_clock::time_point flushed_at_{};
    std::chrono::steady_clock::time_point arrived_at_{};
    std::chrono::steady_clock::time_point taken_at_{};
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
