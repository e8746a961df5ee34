// What a client sends the relay, from the socket through TLS and the
// WebSocket reader: a real TLS client (OpenSSL, memory BIOs) connects to a
// lean_tls_stream over a socket pair, upgrades to WebSocket, then plays the
// input as a script: records it seals, raw bytes that bypass its TLS,
// KeyUpdates, close_notify with writing after it, and masked WebSocket
// frames. The server side reads messages and echoes them, like the relay's
// forwarding. It must never crash, hang or read out of bounds.
//
// An input starting with 0xff goes to the socket as it is, before any
// handshake (the ClientHello path).

#include "relay/lean_tls_stream.h"

#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace net = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using velmarin::relay::connection_socket;
using velmarin::relay::lean_tls_stream;

namespace {

struct contexts {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> server{nullptr, &SSL_CTX_free};
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> client{nullptr, &SSL_CTX_free};
};

// A throw-away self-signed certificate for "localhost", made once.
const contexts& tls_contexts() {
    static const contexts made = [] {
        contexts c;
        std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"),
                                                                &EVP_PKEY_free);
        std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), &X509_free);
        if (!key || !cert)
            std::abort();
        X509_set_version(cert.get(), 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7 * 24 * 3600);
        X509_set_pubkey(cert.get(), key.get());
        X509_NAME* name = X509_get_subject_name(cert.get());
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
        X509_set_issuer_name(cert.get(), name);
        if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0)
            std::abort();

        c.server.reset(SSL_CTX_new(TLS_server_method()));
        SSL_CTX_use_certificate(c.server.get(), cert.get());
        SSL_CTX_use_PrivateKey(c.server.get(), key.get());
        lean_tls_stream::configure(c.server.get());

        c.client.reset(SSL_CTX_new(TLS_client_method()));
        X509_STORE_add_cert(SSL_CTX_get_cert_store(c.client.get()), cert.get());
        SSL_CTX_set_verify(c.client.get(), SSL_VERIFY_PEER, nullptr);
        return c;
    }();
    return made;
}

// The relay's side: TLS handshake, WebSocket accept, then read and echo.
struct server {
    websocket::stream<lean_tls_stream> ws;
    beast::flat_buffer buffer;
    std::string echo;
    bool writing = false;

    server(connection_socket&& socket, SSL_CTX* context)
        : ws(std::move(socket), context) {}

    void start() {
        ws.next_layer().async_handshake([this](beast::error_code ec, std::size_t) {
            if (ec)
                return ws.next_layer().shutdown_and_close();
            ws.read_message_max(1 << 20);
            ws.auto_fragment(false);
            ws.write_buffer_bytes(512);
            ws.async_accept([this](beast::error_code ec) {
                if (!ec)
                    read();
            });
        });
    }

    void read() {
        ws.async_read(buffer, [this](beast::error_code ec, std::size_t) {
            if (ec)
                return ws.next_layer().shutdown_and_close();
            if (!writing) {
                writing = true;
                echo = beast::buffers_to_string(buffer.data());
                ws.binary(!ws.got_text());
                ws.async_write(net::buffer(echo), [this](beast::error_code, std::size_t) {
                    writing = false;
                    ws.next_layer().release_write_buffer();
                });
            }
            buffer.consume(buffer.size());
            read();
        });
    }
};

// The client's end: an OpenSSL connection on memory BIOs, pumped by hand
// to its socket while the server runs between steps.
class client {
public:
    client(int fd, net::io_context& io)
        : fd_(fd)
        , io_(io)
        , ssl_(SSL_new(tls_contexts().client.get()), &SSL_free) {
        in_ = BIO_new(BIO_s_mem());
        out_ = BIO_new(BIO_s_mem());
        SSL_set_bio(ssl_.get(), in_, out_);
        SSL_set_connect_state(ssl_.get());
        SSL_set1_host(ssl_.get(), "localhost");
    }

    SSL* ssl() { return ssl_.get(); }

    // Sends what the client's TLS produced, lets the server work, and takes
    // what it sent back (into the client's TLS while `feed`).
    void pump(bool feed) {
        char chunk[16384];
        for (int round = 0; round < 64; ++round) {
            io_.poll();
            io_.restart();
            bool progress = false;
            for (;;) {
                const auto n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
                if (n <= 0)
                    break;
                progress = true;
                if (feed)
                    BIO_write(in_, chunk, static_cast<int>(n));
            }
            while (BIO_ctrl_pending(out_) > 0) {
                const int n = BIO_read(out_, chunk, sizeof chunk);
                if (n <= 0)
                    break;
                pending_.append(chunk, std::size_t(n));
            }
            if (!pending_.empty()) {
                const auto n =
                    ::send(fd_, pending_.data(), pending_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
                if (n > 0) {
                    pending_.erase(0, std::size_t(n));
                    progress = true;
                }
                if (n < 0 && errno != EAGAIN)
                    pending_.clear(); // the server closed
            }
            if (!progress && pending_.empty())
                return;
        }
    }

    void send_raw(std::string_view bytes) {
        pump(false);
        pending_.append(bytes);
        pump(false);
    }

    bool handshake_and_upgrade() {
        for (int i = 0; i < 32 && SSL_do_handshake(ssl_.get()) != 1; ++i)
            pump(true);
        if (!SSL_is_init_finished(ssl_.get()))
            return false;
        const std::string_view request =
            "GET / HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
        std::size_t written = 0;
        SSL_write_ex(ssl_.get(), request.data(), request.size(), &written);
        std::string response;
        char c = 0;
        for (int i = 0; i < 32 && !response.ends_with("\r\n\r\n"); ++i) {
            pump(true);
            while (!response.ends_with("\r\n\r\n") && SSL_read(ssl_.get(), &c, 1) == 1)
                response += c;
        }
        return response.starts_with("HTTP/1.1 101");
    }

    void write(std::string_view bytes) {
        std::size_t written = 0;
        if (!bytes.empty())
            SSL_write_ex(ssl_.get(), bytes.data(), bytes.size(), &written);
        pump(false);
    }

private:
    int fd_;
    net::io_context& io_;
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl_;
    BIO* in_ = nullptr;  // owned by ssl_
    BIO* out_ = nullptr; // likewise
    std::string pending_;
};

// A client frame for `payload`: FIN and opcode from `first`, zero mask.
std::string masked_frame(std::uint8_t first, std::string_view payload) {
    std::string out{char(first & 0x8f)};
    if (payload.size() < 126) {
        out += char(0x80 | payload.size());
    } else {
        out += char(0x80 | 126);
        out += char((payload.size() >> 8) & 0xff);
        out += char(payload.size() & 0xff);
    }
    out.append(4, '\0');
    out.append(payload);
    return out;
}

void play(client& c, const std::uint8_t* data, std::size_t size) {
    while (size >= 3) {
        const std::uint8_t op = data[0];
        const std::size_t length = std::min<std::size_t>(data[1] | (data[2] & 0x3f) << 8, size - 3);
        const std::string_view payload(reinterpret_cast<const char*>(data + 3), length);
        data += 3 + length;
        size -= 3 + length;
        switch (op % 5) {
        case 0: // sealed by the client's TLS as it is
            c.write(payload);
            break;
        case 1: // past the client's TLS: forged or broken records
            c.send_raw(payload);
            break;
        case 2:
            SSL_key_update(c.ssl(), (op & 0x80) ? SSL_KEY_UPDATE_REQUESTED
                                                : SSL_KEY_UPDATE_NOT_REQUESTED);
            SSL_do_handshake(c.ssl());
            c.pump(false);
            break;
        case 3: // close_notify, then keep writing
            SSL_shutdown(c.ssl());
            SSL_set_shutdown(c.ssl(), 0);
            c.pump(false);
            break;
        case 4:
            c.write(masked_frame(payload.empty() ? 0x82 : std::uint8_t(payload[0]),
                                 payload.empty() ? payload : payload.substr(1)));
            break;
        }
        ERR_clear_error();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& contexts = tls_contexts();
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        std::abort();
    net::io_context io;
    {
        connection_socket socket(net::make_strand(io));
        socket.assign(net::ip::tcp::v4(), fds[0]);
        auto relay_side = std::make_unique<server>(std::move(socket), contexts.server.get());
        relay_side->start();
        {
            client peer(fds[1], io);
            if (size > 0 && data[0] == 0xff)
                peer.send_raw({reinterpret_cast<const char*>(data + 1), size - 1});
            else if (peer.handshake_and_upgrade())
                play(peer, data, size);
            else
                std::abort(); // a clean handshake must always work
            ::close(fds[1]);
        }
        // With the client gone every operation ends; one that does not is a hang.
        io.restart();
        io.run_for(std::chrono::seconds(10));
        if (!io.stopped())
            std::abort();
    }
    ERR_clear_error();
    return 0;
}
