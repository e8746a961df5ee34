#include "relay/lean_tls_stream.h"

#include <boost/asio/error.hpp>
#include <boost/asio/ssl/error.hpp>
#include <openssl/err.h>

#include <cerrno>
#include <stdexcept>

namespace velmarin::relay {

namespace net = boost::asio;

lean_tls_stream::lean_tls_stream(socket_type&& socket, SSL_CTX* context)
    : socket_(std::move(socket))
    , ssl_(SSL_new(context), &SSL_free) {
    if (!ssl_)
        throw std::bad_alloc();
    boost::system::error_code ignored;
    socket_.non_blocking(true, ignored);
    // The socket BIO does not close the descriptor; the asio socket owns it.
    SSL_set_fd(ssl_.get(), static_cast<int>(socket_.native_handle()));
    SSL_set_accept_state(ssl_.get());
    SSL_set_mode(ssl_.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                                 SSL_MODE_RELEASE_BUFFERS);
}

lean_tls_stream::next_step lean_tls_stream::attempt(operation op, void* data, std::size_t size,
                                                    std::size_t& bytes,
                                                    boost::system::error_code& ec) {
    bytes = 0;
    ec = {};
    if (!socket_.is_open()) {
        ec = net::error::bad_descriptor;
        return next_step::done;
    }
    if (op != operation::handshake && size == 0)
        return next_step::done;
    // The error queue is per thread and shared by every connection on it.
    ERR_clear_error();
    int rc = 0;
    switch (op) {
    case operation::handshake:
        rc = SSL_do_handshake(ssl_.get());
        break;
    case operation::read:
        rc = SSL_read_ex(ssl_.get(), data, size, &bytes);
        break;
    case operation::write:
        rc = SSL_write_ex(ssl_.get(), data, size, &bytes);
        break;
    }
    if (rc == 1)
        return next_step::done;
    const int saved_errno = errno;
    switch (SSL_get_error(ssl_.get(), rc)) {
    case SSL_ERROR_WANT_READ:
        // Waiting may take minutes on an idle connection: give back the
        // record buffers (OpenSSL keeps them when a read stopped half-way)
        // and the coalescing buffer, which the handshake answer used.
        SSL_free_buffers(ssl_.get());
        release_write_buffer();
        return next_step::wait_read;
    case SSL_ERROR_WANT_WRITE:
        return next_step::wait_write;
    case SSL_ERROR_ZERO_RETURN:
        ec = net::error::eof; // the peer sent close_notify
        break;
    case SSL_ERROR_SYSCALL:
        ec = saved_errno != 0
                 ? boost::system::error_code(saved_errno, boost::system::system_category())
                 : boost::system::error_code(net::error::eof);
        break;
    default: {
        const auto code = ERR_get_error();
        ec = code != 0
                 ? boost::system::error_code(static_cast<int>(code), net::error::get_ssl_category())
                 : boost::system::error_code(net::error::connection_reset);
        break;
    }
    }
    bytes = 0;
    ERR_clear_error();
    return next_step::done;
}

void lean_tls_stream::shutdown_and_close() {
    if (!socket_.is_open())
        return;
    ERR_clear_error();
    if (SSL_is_init_finished(ssl_.get()))
        SSL_shutdown(ssl_.get()); // one non-blocking attempt; the peer may be gone
    ERR_clear_error();
    boost::system::error_code ignored;
    socket_.shutdown(socket_type::shutdown_both, ignored);
    socket_.close(ignored);
}

void beast_close_socket(lean_tls_stream& stream) {
    stream.shutdown_and_close();
}

void teardown(boost::beast::role_type, lean_tls_stream& stream, boost::system::error_code& ec) {
    stream.shutdown_and_close();
    ec = {};
}

} // namespace velmarin::relay
