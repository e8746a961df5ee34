#include "relay/lean_tls_stream.h"

#include <boost/asio/error.hpp>
#include <boost/asio/ssl/error.hpp>
#include <openssl/crypto.h>
#include <openssl/err.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <sys/socket.h>

namespace velmarin::relay {

namespace net = boost::asio;
using boost::system::error_code;
using records = record_protection;

namespace {

error_code protocol_error() {
    return boost::system::errc::make_error_code(boost::system::errc::protocol_error);
}

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

lean_tls_stream::handshake_secrets::~handshake_secrets() {
    OPENSSL_cleanse(client.data(), client.size());
    OPENSSL_cleanse(server.data(), server.size());
}

void lean_tls_stream::configure(SSL_CTX* context) {
    // Our record layer speaks TLS 1.3 only, which every client we serve has.
    SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION);
    // AES-128-GCM is the cheapest on processors with AES instructions; a
    // client that puts ChaCha20 first (no such instructions) gets that.
    SSL_CTX_set_ciphersuites(
        context, "TLS_AES_128_GCM_SHA256:TLS_CHACHA20_POLY1305_SHA256:TLS_AES_256_GCM_SHA384");
    SSL_CTX_set_options(context, SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_PRIORITIZE_CHACHA);
    // Read-ahead would leave records after the handshake inside OpenSSL,
    // where the record layer cannot get at them.
    SSL_CTX_set_read_ahead(context, 0);
    SSL_CTX_set_keylog_callback(context, &lean_tls_stream::on_key_log);
}

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
    SSL_set_mode(ssl_.get(), SSL_MODE_RELEASE_BUFFERS);
    SSL_set_app_data(ssl_.get(), this);
    // The kernel stamps what arrives, so the relay can tell how long data
    // waited for it (see arrived_at()).
    const int on = 1;
    ::setsockopt(socket_.native_handle(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
}

ssize_t lean_tls_stream::receive(std::uint8_t* data, std::size_t size) {
    iovec part{data, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const auto n = ::recvmsg(socket_.native_handle(), &message, 0);
    if (n <= 0)
        return n;
    taken_at_ = std::chrono::steady_clock::now();
    for (auto* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS)
            continue;
        timespec stamp{};
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        // The stamp is wall-clock time; carried over to the steady clock.
        const auto wall = std::chrono::system_clock::now().time_since_epoch();
        const auto waited =
            wall - (std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec));
        arrived_at_ = taken_at_ - std::max<std::chrono::nanoseconds>(waited, {});
        return n;
    }
    arrived_at_ = taken_at_;
    return n;
}

void lean_tls_stream::on_key_log(const SSL* ssl, const char* line) {
    auto* self = static_cast<lean_tls_stream*>(SSL_get_app_data(ssl));
    if (!self)
        return;
    // "LABEL <client random> <secret>", all hexadecimal after the label.
    const std::string_view text(line);
    const auto label = text.substr(0, text.find(' '));
    const bool client = label == "CLIENT_TRAFFIC_SECRET_0";
    if (!client && label != "SERVER_TRAFFIC_SECRET_0")
        return;
    const auto hex = text.substr(text.rfind(' ') + 1);
    if (!self->secrets_)
        self->secrets_ = std::make_unique<handshake_secrets>();
    auto& secret = client ? self->secrets_->client : self->secrets_->server;
    auto& size = client ? self->secrets_->client_size : self->secrets_->server_size;
    size = 0;
    if (hex.size() % 2 != 0 || hex.size() / 2 > secret.size())
        return;
    for (std::size_t i = 0; i < hex.size() / 2; ++i) {
        const int high = hex_value(hex[2 * i]);
        const int low = hex_value(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return;
        secret[i] = std::uint8_t(high << 4 | low);
    }
    size = hex.size() / 2;
}

lean_tls_stream::next_step lean_tls_stream::attempt(operation op, void* data, std::size_t size,
                                                    std::size_t& bytes, error_code& ec) {
    bytes = 0;
    ec = {};
    if (!socket_.is_open()) {
        ec = net::error::bad_descriptor;
        return next_step::done;
    }
    switch (op) {
    case operation::handshake:
        return handshake_step(ec);
    case operation::read:
        if (!protected_) {
            ec = net::error::not_connected;
            return next_step::done;
        }
        return read_step(static_cast<std::uint8_t*>(data), size, bytes, ec);
    case operation::write: {
        const auto step = flush_step(ec);
        if (step == next_step::done && !ec)
            bytes = size;
        return step;
    }
    case operation::failed_write:
        ec = protected_ ? protocol_error() : net::error::not_connected;
        return next_step::done;
    }
    return next_step::done;
}

// --- Handshake ------------------------------------------------------------------

lean_tls_stream::next_step lean_tls_stream::handshake_step(error_code& ec) {
    if (!ssl_) {
        ec = protected_ ? error_code{} : net::error::not_connected;
        return next_step::done;
    }
    // The error queue is per thread and shared by every connection on it.
    ERR_clear_error();
    const int rc = SSL_do_handshake(ssl_.get());
    if (rc == 1) {
        if (!finish_handshake())
            ec = protocol_error();
        ERR_clear_error();
        return next_step::done;
    }
    const int saved_errno = errno;
    switch (SSL_get_error(ssl_.get(), rc)) {
    case SSL_ERROR_WANT_READ:
        SSL_free_buffers(ssl_.get());
        return next_step::wait_read;
    case SSL_ERROR_WANT_WRITE:
        return next_step::wait_write;
    case SSL_ERROR_ZERO_RETURN:
        ec = net::error::eof;
        break;
    case SSL_ERROR_SYSCALL:
        ec = saved_errno != 0 ? error_code(saved_errno, boost::system::system_category())
                              : error_code(net::error::eof);
        break;
    default: {
        const auto code = ERR_get_error();
        ec = code != 0 ? error_code(static_cast<int>(code), net::error::get_ssl_category())
                       : error_code(net::error::connection_reset);
        break;
    }
    }
    ERR_clear_error();
    return next_step::done;
}

bool lean_tls_stream::finish_handshake() {
    SSL* ssl = ssl_.get();
    const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl);
    // Without read-ahead nothing can be pending; if something were, it
    // would be lost with the SSL object.
    if (SSL_version(ssl) != TLS1_3_VERSION || !cipher || SSL_has_pending(ssl) || !secrets_ ||
        secrets_->client_size == 0 || secrets_->server_size == 0)
        return false;
    const auto suite = static_cast<std::uint16_t>(SSL_CIPHER_get_protocol_id(cipher));
    if (!opener_.init(suite, {secrets_->client.data(), secrets_->client_size}) ||
        !sealer_.init(suite, {secrets_->server.data(), secrets_->server_size}))
        return false;
    secrets_.reset();
    ssl_.reset();
    protected_ = true;
    return true;
}

// --- Reading --------------------------------------------------------------------

lean_tls_stream::next_step lean_tls_stream::read_step(std::uint8_t* data, std::size_t size,
                                                      std::size_t& bytes, error_code& ec) {
    if (size == 0)
        return next_step::done;
    for (;;) {
        if (plain_begin_ < plain_end_) {
            bytes = std::min(size, plain_end_ - plain_begin_);
            std::memcpy(data, in_.data.get() + plain_begin_, bytes);
            plain_begin_ += bytes;
            return next_step::done;
        }
        plain_begin_ = plain_end_ = 0;

        if (in_.size() >= records::kHeaderSize) {
            std::uint8_t* header = in_.data.get() + in_.begin;
            const auto length = records::ciphertext_length(header);
            if (!length) {
                ec = protocol_error();
                return next_step::done;
            }
            if (in_.size() >= records::kHeaderSize + *length) {
                std::uint8_t* body = header + records::kHeaderSize;
                // Straight into the caller's buffer when the record fits.
                const bool direct = size >= *length - records::kTagSize;
                std::uint8_t* target = direct ? data : body;
                const auto record = opener_.open(header, body, *length, target);
                in_.begin += records::kHeaderSize + *length;
                if (!record) {
                    ERR_clear_error();
                    ec = boost::system::errc::make_error_code(boost::system::errc::bad_message);
                    return next_step::done;
                }
                switch (record->type) {
                case records::kApplicationData:
                    if (record->length == 0)
                        continue;
                    if (direct) {
                        bytes = record->length;
                        return next_step::done;
                    }
                    plain_begin_ = std::size_t(body - in_.data.get());
                    plain_end_ = plain_begin_ + record->length;
                    continue;
                case records::kHandshake:
                    if (handle_handshake_record(target, record->length))
                        continue;
                    ec = protocol_error();
                    return next_step::done;
                case records::kAlert:
                    // close_notify ends the stream; any other alert is fatal.
                    ec = record->length == 2 && target[1] == 0 ? error_code(net::error::eof)
                                                               : protocol_error();
                    return next_step::done;
                default:
                    ec = protocol_error();
                    return next_step::done;
                }
            }
        }

        // More bytes are needed. Keep room for a whole record after what is
        // already here.
        if (!in_.data) {
            in_.data = std::make_unique_for_overwrite<std::uint8_t[]>(kReceiveBuffer);
            in_.capacity = kReceiveBuffer;
        }
        if (in_.begin > 0 && in_.capacity - in_.end < records::kMaxRecord) {
            std::memmove(in_.data.get(), in_.data.get() + in_.begin, in_.size());
            in_.end -= in_.begin;
            in_.begin = 0;
        }
        const auto n = receive(in_.data.get() + in_.end, in_.capacity - in_.end);
        if (n > 0) {
            in_.end += std::size_t(n);
            continue;
        }
        if (n == 0) {
            ec = net::error::eof; // without close_notify, possibly mid-record
            return next_step::done;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // Waiting may take minutes on an idle connection.
            if (in_.size() == 0)
                in_.release();
            return next_step::wait_read;
        }
        ec = error_code(errno, boost::system::system_category());
        return next_step::done;
    }
}

bool lean_tls_stream::handle_handshake_record(const std::uint8_t* content, std::size_t length) {
    // After the handshake a client may only send KeyUpdate, and a key change
    // ends its record.
    constexpr std::uint8_t kKeyUpdate = 24;
    if (length != 5 || content[0] != kKeyUpdate || content[1] != 0 || content[2] != 0 ||
        content[3] != 1 || content[4] > 1)
        return false;
    if (!opener_.update())
        return false;
    // update_requested: ours goes out ahead of our next record.
    if (content[4] == 1)
        key_update_due_ = true;
    return true;
}

// --- Writing --------------------------------------------------------------------

bool lean_tls_stream::seal(std::span<const std::span<const std::uint8_t>> parts) {
    if (!protected_)
        return false;
    std::size_t total = 0;
    for (const auto& part : parts)
        total += part.size();
    constexpr std::size_t kKeyUpdateRecord = 5 + records::kOverhead;
    const std::size_t records_needed = (total + records::kMaxContent - 1) / records::kMaxContent;
    const std::size_t needed = out_.size() + total + records_needed * records::kOverhead +
                               (key_update_due_ ? kKeyUpdateRecord : 0);
    if (out_.capacity - out_.end < needed - out_.size()) {
        byte_buffer grown;
        grown.capacity = std::max<std::size_t>(needed, 4096);
        grown.data = std::make_unique_for_overwrite<std::uint8_t[]>(grown.capacity);
        std::memcpy(grown.data.get(), out_.data.get() + out_.begin, out_.size());
        grown.end = out_.size();
        out_ = std::move(grown);
    }

    if (key_update_due_) {
        const std::uint8_t message[5] = {24, 0, 0, 1, 0}; // KeyUpdate, not requested
        const std::span<const std::uint8_t> part{message};
        const auto n = sealer_.seal(records::kHandshake, {&part, 1}, out_.data.get() + out_.end);
        if (n == 0 || !sealer_.update())
            return false;
        out_.end += n;
        key_update_due_ = false;
    }

    std::size_t index = 0;
    std::size_t offset = 0;
    while (index < parts.size()) {
        std::array<std::span<const std::uint8_t>, 8> record_parts;
        std::size_t count = 0;
        std::size_t content = 0;
        while (index < parts.size() && content < records::kMaxContent &&
               count < record_parts.size()) {
            const auto& part = parts[index];
            const auto take = std::min(part.size() - offset, records::kMaxContent - content);
            record_parts[count++] = part.subspan(offset, take);
            content += take;
            offset += take;
            if (offset == part.size()) {
                ++index;
                offset = 0;
            }
        }
        const auto n = sealer_.seal(records::kApplicationData, {record_parts.data(), count},
                                    out_.data.get() + out_.end);
        if (n == 0) {
            ERR_clear_error();
            return false;
        }
        out_.end += n;
    }
    return true;
}

lean_tls_stream::next_step lean_tls_stream::flush_step(error_code& ec) {
    while (out_.size() > 0) {
        const auto n = ::send(socket_.native_handle(), out_.data.get() + out_.begin, out_.size(),
                              MSG_NOSIGNAL | (send_more_ ? MSG_MORE : 0));
        if (n > 0) {
            out_.begin += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return next_step::wait_write;
        ec = n < 0 ? error_code(errno, boost::system::system_category())
                   : error_code(net::error::connection_reset);
        return next_step::done;
    }
    out_.begin = out_.end = 0;
    flushed_at_ = std::chrono::steady_clock::now();
    return next_step::done;
}

void lean_tls_stream::release_write_buffer() {
    if (!writing_ && out_.size() == 0)
        out_.release();
}

// --- Closing --------------------------------------------------------------------

void lean_tls_stream::shutdown_and_close() {
    if (!socket_.is_open())
        return;
    // One attempt at close_notify, unless records are half sent; the peer
    // may be gone.
    if (protected_ && out_.size() == 0) {
        const std::uint8_t alert[2] = {1, 0}; // warning, close_notify
        const std::span<const std::uint8_t> part{alert};
        std::array<std::uint8_t, sizeof alert + records::kOverhead> record;
        if (const auto n = sealer_.seal(records::kAlert, {&part, 1}, record.data()); n > 0)
            [[maybe_unused]]
            const auto sent =
                ::send(socket_.native_handle(), record.data(), n, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    ERR_clear_error();
    boost::system::error_code ignored;
    socket_.shutdown(socket_type::shutdown_both, ignored);
    socket_.close(ignored);
    in_.release();
    plain_begin_ = plain_end_ = 0;
    if (!writing_)
        out_.release();
}

void beast_close_socket(lean_tls_stream& stream) {
    stream.shutdown_and_close();
}

void teardown(boost::beast::role_type, lean_tls_stream& stream, boost::system::error_code& ec) {
    stream.shutdown_and_close();
    ec = {};
}

} // namespace velmarin::relay
