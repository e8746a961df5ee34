#include "relay/lean_tls_stream.h"

#include <boost/asio/error.hpp>
#include <boost/asio/ssl/error.hpp>
#include <openssl/bio.h>
#include <openssl/err.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <sys/socket.h>

namespace velmarin::relay {

namespace net = boost::asio;
using boost::system::error_code;

namespace {

error_code protocol_error() {
    return boost::system::errc::make_error_code(boost::system::errc::protocol_error);
}

error_code system_error(int number) {
    return {number, boost::system::system_category()};
}

// Read-ahead: OpenSSL takes what the socket has, up to a record's size, in
// one call instead of asking for each record's header and body apart. In
// relay_load's saturating run that was about 350 MB/s per core against
// 240 without (a 32 KiB buffer gained nothing more). The price: records
// already in its buffer are worked through before the BIO can refuse more,
// so a flood of KeyUpdates costs at most one buffer's worth (a few hundred
// key derivations, about as much as a handshake) before the connection ends.
constexpr bool kReadAhead = true;

} // namespace

void lean_tls_stream::configure(SSL_CTX* context) {
    // TLS 1.3 only, which every client we serve has.
    SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION);
    // AES-128-GCM is the cheapest on processors with AES instructions; a
    // client that puts ChaCha20 first (no such instructions) gets that.
    SSL_CTX_set_ciphersuites(
        context, "TLS_AES_128_GCM_SHA256:TLS_CHACHA20_POLY1305_SHA256:TLS_AES_256_GCM_SHA384");
    // Clients keep one long-lived connection each: resumption would save
    // little, and a ticket or cached session costs memory per connection.
    SSL_CTX_set_options(context, SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_PRIORITIZE_CHACHA |
                                     SSL_OP_NO_TICKET);
    SSL_CTX_set_num_tickets(context, 0);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    // Idle connections then hold no 17 KB record buffers inside OpenSSL.
    SSL_CTX_set_mode(context, SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_read_ahead(context, kReadAhead ? 1 : 0);
    SSL_CTX_set_msg_callback(context, &lean_tls_stream::on_message);
}

lean_tls_stream::lean_tls_stream(socket_type&& socket, SSL_CTX* context)
    : socket_(std::move(socket))
    , ssl_(SSL_new(context), &SSL_free) {
    if (!ssl_)
        throw std::bad_alloc();
    BIO* bio = BIO_new(socket_bio_method());
    if (!bio)
        throw std::bad_alloc();
    BIO_set_data(bio, this);
    SSL_set_bio(ssl_.get(), bio, bio); // the SSL object owns the BIO
    SSL_set_accept_state(ssl_.get());
    SSL_set_msg_callback_arg(ssl_.get(), this);
    boost::system::error_code ignored;
    socket_.non_blocking(true, ignored);
    // The kernel stamps what arrives, so the relay can tell how long data
    // waited for it (see arrived_at()).
    const int on = 1;
    ::setsockopt(socket_.native_handle(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
}

void lean_tls_stream::byte_buffer::append(const std::uint8_t* bytes, std::size_t n) {
    if (capacity - end < n) {
        const std::size_t needed = size() + n;
        if (needed <= capacity) {
            std::memmove(data.get(), data.get() + begin, size());
        } else {
            auto grown = std::make_unique_for_overwrite<std::uint8_t[]>(
                std::max<std::size_t>(needed, 4096));
            if (size() > 0)
                std::memcpy(grown.get(), data.get() + begin, size());
            data = std::move(grown);
            capacity = std::max<std::size_t>(needed, 4096);
        }
        end = size();
        begin = 0;
    }
    std::memcpy(data.get() + end, bytes, n);
    end += n;
}

// --- The BIO ----------------------------------------------------------------------

BIO_METHOD* lean_tls_stream::socket_bio_method() {
    static const std::unique_ptr<BIO_METHOD, decltype(&BIO_meth_free)> method = [] {
        std::unique_ptr<BIO_METHOD, decltype(&BIO_meth_free)> m(
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "velmarin relay socket"),
            &BIO_meth_free);
        if (!m)
            throw std::bad_alloc();
        BIO_meth_set_read_ex(m.get(), [](BIO* bio, char* data, std::size_t size,
                                         std::size_t* done) {
            auto* self = static_cast<lean_tls_stream*>(BIO_get_data(bio));
            BIO_clear_retry_flags(bio);
            return self->bio_read(bio, reinterpret_cast<std::uint8_t*>(data), size, *done);
        });
        BIO_meth_set_write_ex(m.get(), [](BIO* bio, const char* data, std::size_t size,
                                          std::size_t* done) {
            auto* self = static_cast<lean_tls_stream*>(BIO_get_data(bio));
            BIO_clear_retry_flags(bio);
            const int ok = self->bio_write(bio, reinterpret_cast<const std::uint8_t*>(data), size);
            *done = ok ? size : 0;
            return ok;
        });
        // Flushing means nothing here: what the socket does not take at
        // once waits in the send buffer.
        BIO_meth_set_ctrl(m.get(), [](BIO*, int command, long, void*) -> long {
            return command == BIO_CTRL_FLUSH ? 1 : 0;
        });
        BIO_meth_set_create(m.get(), [](BIO* bio) {
            BIO_set_init(bio, 1);
            return 1;
        });
        return m;
    }();
    return method.get();
}

int lean_tls_stream::bio_read(BIO* bio, std::uint8_t* data, std::size_t size, std::size_t& done) {
    // A failure without the retry flag makes OpenSSL give up on the
    // connection; read_step tells why.
    if (flooded_)
        return 0;
    if (read_budget_ == 0) {
        budget_spent_ = true;
        BIO_set_retry_read(bio);
        return 0;
    }
    for (;;) {
        const auto n = receive(data, std::min(size, read_budget_));
        if (n > 0) {
            read_budget_ -= std::size_t(n);
            done = std::size_t(n);
            return 1;
        }
        if (n == 0) {
            peer_closed_ = true;
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            BIO_set_retry_read(bio);
            return 0;
        }
        socket_errno_ = errno;
        return 0;
    }
}

int lean_tls_stream::bio_write(BIO*, const std::uint8_t* data, std::size_t size) {
    if (socket_errno_ != 0)
        return 0;
    // Straight onto the socket when nothing waits ahead of these bytes;
    // what it does not take is kept, so OpenSSL never has to retry a write
    // (a read may write too: the answer to a KeyUpdate).
    if (out_.size() == 0 && !collect_output_) {
        while (size > 0) {
            const auto n = ::send(socket_.native_handle(), data, size,
                                  MSG_NOSIGNAL | (bio_more_ ? MSG_MORE : 0));
            if (n >= 0) {
                data += n;
                size -= std::size_t(n);
                continue;
            }
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            socket_errno_ = errno;
            return 0;
        }
    }
    if (size > 0)
        out_.append(data, size);
    return 1;
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

void lean_tls_stream::on_message(int writing, int, int content_type, const void* data,
                                 std::size_t length, SSL*, void* arg) {
    auto* self = static_cast<lean_tls_stream*>(arg);
    if (!self || !self->established_)
        return;
    if (content_type == SSL3_RT_HEADER) {
        if (writing)
            ++self->records_sealed_;
        else if (++self->records_without_data_ > kMaxRecordsWithoutData)
            self->flooded_ = true;
        return;
    }
    if (content_type == SSL3_RT_HANDSHAKE && length > 0 &&
        static_cast<const std::uint8_t*>(data)[0] == SSL3_MT_KEY_UPDATE) {
        if (writing)
            self->records_sealed_ = 0;
        else if (++self->key_updates_without_data_ > kMaxKeyUpdatesWithoutData)
            self->flooded_ = true;
    }
}

// --- Operations -------------------------------------------------------------------

lean_tls_stream::next_step lean_tls_stream::attempt(operation op, void* data, std::size_t size,
                                                    std::size_t& bytes, error_code& ec) {
    bytes = 0;
    ec = {};
    if (!socket_.is_open() || !ssl_) {
        ec = net::error::bad_descriptor;
        return next_step::done;
    }
    read_budget_ = kReadBudget;
    budget_spent_ = false;
    switch (op) {
    case operation::handshake:
        return handshake_step(ec);
    case operation::read:
        if (!established_) {
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
        ec = socket_errno_ != 0 ? system_error(socket_errno_)
             : established_     ? protocol_error()
                                : error_code(net::error::not_connected);
        return next_step::done;
    }
    return next_step::done;
}

error_code lean_tls_stream::failure(int reason, int saved_errno) {
    error_code ec;
    if (flooded_)
        ec = protocol_error();
    else if (socket_errno_ != 0)
        ec = system_error(socket_errno_);
    else if (peer_closed_ || reason == SSL_ERROR_ZERO_RETURN)
        ec = net::error::eof; // with or without close_notify
    else if (reason == SSL_ERROR_SYSCALL)
        ec = saved_errno != 0 ? system_error(saved_errno) : error_code(net::error::eof);
    else if (const auto code = ERR_get_error(); code != 0)
        ec = error_code(static_cast<int>(code), net::error::get_ssl_category());
    else
        ec = net::error::connection_reset;
    // The error queue is per thread and shared by every connection on it.
    ERR_clear_error();
    return ec;
}

lean_tls_stream::next_step lean_tls_stream::handshake_step(error_code& ec) {
    if (established_)
        return next_step::done;
    if (out_.size() > 0 && !flush_some(false, ec))
        return ec ? next_step::done : next_step::wait_write;
    ERR_clear_error();
    const int rc = SSL_do_handshake(ssl_.get());
    const int saved_errno = errno;
    if (rc == 1) {
        ERR_clear_error();
        established_ = true;
        if (out_.size() > 0 && !flush_some(false, ec))
            return ec ? next_step::done : next_step::wait_write;
        return next_step::done;
    }
    const int reason = SSL_get_error(ssl_.get(), rc);
    if (reason == SSL_ERROR_WANT_READ && !socket_errno_) {
        ERR_clear_error();
        if (out_.size() > 0 && !flush_some(false, ec))
            return ec ? next_step::done : next_step::wait_write;
        if (budget_spent_)
            return next_step::yield;
        SSL_free_buffers(ssl_.get());
        return next_step::wait_read;
    }
    ec = failure(reason, saved_errno);
    return next_step::done;
}

lean_tls_stream::next_step lean_tls_stream::read_step(std::uint8_t* data, std::size_t size,
                                                      std::size_t& bytes, error_code& ec) {
    if (size == 0)
        return next_step::done;
    // Answers to KeyUpdates pile up when the peer does not read: reading
    // waits for it then.
    if (out_.size() > kMaxPendingOutput && !flush_some(false, ec) &&
        out_.size() > kMaxPendingOutput)
        return ec ? next_step::done : next_step::wait_write;

    ERR_clear_error();
    std::size_t n = 0;
    const int rc = SSL_read_ex(ssl_.get(), data, size, &n);
    const int saved_errno = errno;
    if (rc == 1) {
        records_without_data_ = 0;
        key_updates_without_data_ = 0;
        bytes = n;
        return next_step::done;
    }
    const int reason = SSL_get_error(ssl_.get(), rc);
    if (reason == SSL_ERROR_WANT_READ && !flooded_ && !socket_errno_) {
        ERR_clear_error();
        if (out_.size() > 0 && !flush_some(false, ec)) {
            if (ec)
                return next_step::done;
            if (out_.size() > kMaxPendingOutput)
                return next_step::wait_write;
        }
        if (out_.size() == 0 && !writing_)
            out_.release();
        if (budget_spent_)
            return next_step::yield;
        // Waiting may take minutes on an idle connection. OpenSSL keeps a
        // buffer that holds part of a record.
        SSL_free_buffers(ssl_.get());
        return next_step::wait_read;
    }
    ec = failure(reason, saved_errno);
    return next_step::done;
}

// --- Writing ----------------------------------------------------------------------

bool lean_tls_stream::seal(std::span<const std::span<const std::uint8_t>> parts,
                           std::size_t total) {
    if (!established_ || !ssl_ || socket_errno_ != 0)
        return false;
    if (records_sealed_ >= kRecordsPerKey)
        SSL_key_update(ssl_.get(), SSL_KEY_UPDATE_NOT_REQUESTED); // goes out first
    // Several records go to the socket in one call.
    collect_output_ = total > kMaxRecordContent;
    // A WebSocket frame's few header bytes and its payload make one record:
    // a record that spans parts is put together here.
    std::array<std::uint8_t, kMaxRecordContent> joined;
    std::size_t index = 0;
    std::size_t offset = 0;
    std::size_t left = total;
    bool ok = true;
    while (ok && index < parts.size()) {
        const auto& part = parts[index];
        const std::size_t in_part = part.size() - offset;
        std::size_t record = 0;
        if (in_part >= kMaxRecordContent || index + 1 == parts.size()) {
            record = std::min(in_part, kMaxRecordContent);
            ok = write_record(part.data() + offset, record, left > record);
            offset += record;
            if (offset == part.size()) {
                ++index;
                offset = 0;
            }
        } else {
            while (index < parts.size() && record < kMaxRecordContent) {
                const auto& p = parts[index];
                const auto take = std::min(p.size() - offset, kMaxRecordContent - record);
                std::memcpy(joined.data() + record, p.data() + offset, take);
                record += take;
                offset += take;
                if (offset == p.size()) {
                    ++index;
                    offset = 0;
                }
            }
            ok = write_record(joined.data(), record, left > record);
        }
        left -= record;
    }
    collect_output_ = false;
    return ok;
}

bool lean_tls_stream::write_record(const std::uint8_t* data, std::size_t size, bool more) {
    bio_more_ = send_more_ || more;
    ERR_clear_error();
    std::size_t written = 0;
    const int rc = SSL_write_ex(ssl_.get(), data, size, &written);
    bio_more_ = false;
    if (rc != 1 || written != size) {
        ERR_clear_error();
        return false;
    }
    return true;
}

bool lean_tls_stream::flush_some(bool more, error_code& ec) {
    while (out_.size() > 0) {
        const auto n = ::send(socket_.native_handle(), out_.data.get() + out_.begin, out_.size(),
                              MSG_NOSIGNAL | (more ? MSG_MORE : 0));
        if (n > 0) {
            out_.begin += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return false;
        socket_errno_ = n < 0 ? errno : ECONNRESET;
        ec = system_error(socket_errno_);
        return false;
    }
    out_.begin = out_.end = 0;
    return true;
}

lean_tls_stream::next_step lean_tls_stream::flush_step(error_code& ec) {
    if (!flush_some(send_more_, ec))
        return ec ? next_step::done : next_step::wait_write;
    flushed_at_ = std::chrono::steady_clock::now();
    return next_step::done;
}

void lean_tls_stream::release_write_buffer() {
    if (!writing_ && out_.size() == 0)
        out_.release();
}

// --- Closing ----------------------------------------------------------------------

void lean_tls_stream::shutdown_and_close() {
    if (!socket_.is_open())
        return;
    // One attempt at close_notify, unless records are half sent; the peer
    // may be gone.
    if (ssl_ && established_ && out_.size() == 0 && socket_errno_ == 0 &&
        !(SSL_get_shutdown(ssl_.get()) & SSL_SENT_SHUTDOWN)) {
        ERR_clear_error();
        SSL_shutdown(ssl_.get());
    }
    ERR_clear_error();
    boost::system::error_code ignored;
    socket_.shutdown(socket_type::shutdown_both, ignored);
    socket_.close(ignored);
    // Operations still under way find the socket closed and stop.
    ssl_.reset();
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
