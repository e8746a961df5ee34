// What a client sends the relay, from the socket through TLS and the
// WebSocket reader: an OpenSSL client on a socket pair upgrades to WebSocket
// at a lean_tls_stream, then plays the input as a script (see play()). The
// server side echoes what it reads, like the relay's forwarding. It must
// never crash, hang or read out of bounds. An input starting with 0xff goes
// to the socket as it is, before any handshake (the ClientHello path).

#include "relay/lean_tls_stream.h"

#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace net = boost::asio;
namespace beast = boost::beast;
using velmarin::relay::connection_socket;
using velmarin::relay::lean_tls_stream;

namespace {

using context_ptr = std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>;

// Server and client contexts for a throw-away self-signed "localhost"
// certificate, made once.
const std::pair<context_ptr, context_ptr>& contexts() {
    static const auto made = [] {
        std::signal(SIGPIPE, SIG_IGN); // the client may write after the server hung up
        std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"),
                                                                &EVP_PKEY_free);
        std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), &X509_free);
        X509_set_version(cert.get(), 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7 * 24 * 3600);
        X509_set_pubkey(cert.get(), key.get());
        X509_NAME* name = X509_get_subject_name(cert.get());
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
        X509_set_issuer_name(cert.get(), name);
        if (!key || X509_sign(cert.get(), key.get(), EVP_sha256()) == 0)
            std::abort();
        std::pair c{context_ptr(SSL_CTX_new(TLS_server_method()), &SSL_CTX_free),
                    context_ptr(SSL_CTX_new(TLS_client_method()), &SSL_CTX_free)};
        SSL_CTX_use_certificate(c.first.get(), cert.get());
        SSL_CTX_use_PrivateKey(c.first.get(), key.get());
        lean_tls_stream::configure(c.first.get());
        X509_STORE_add_cert(SSL_CTX_get_cert_store(c.second.get()), cert.get());
        SSL_CTX_set_verify(c.second.get(), SSL_VERIFY_PEER, nullptr);
        return c;
    }();
    return made;
}

// The relay's side: TLS handshake, WebSocket accept, then read and echo.
struct server {
    beast::websocket::stream<lean_tls_stream> ws;
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

// The client's end: OpenSSL straight on its non-blocking socket.
struct client {
    int fd;
    net::io_context& io;
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl{SSL_new(contexts().second.get()), &SSL_free};
    bool upgraded = false;

    // Lets the server side run; after the upgrade whatever it sends is
    // dropped unread, so it never waits on a full socket.
    void settle() {
        char skipped[16384];
        for (int round = 0; round < 8; ++round) {
            io.restart();
            io.poll();
            while (upgraded && ::recv(fd, skipped, sizeof skipped, MSG_DONTWAIT) > 0) {
            }
        }
    }

    void write(std::string_view bytes) {
        std::size_t written = 0;
        for (int i = 0; i < 16 && !bytes.empty() &&
                        SSL_write_ex(ssl.get(), bytes.data(), bytes.size(), &written) != 1 &&
                        SSL_get_error(ssl.get(), 0) == SSL_ERROR_WANT_WRITE;
             ++i)
            settle();
        settle();
    }

    void send_raw(std::string_view bytes) {
        (void)::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        settle();
    }

    bool handshake_and_upgrade() {
        SSL_set_fd(ssl.get(), fd);
        SSL_set_connect_state(ssl.get());
        SSL_set1_host(ssl.get(), "localhost");
        for (int i = 0; i < 32 && SSL_do_handshake(ssl.get()) != 1; ++i)
            settle();
        if (!SSL_is_init_finished(ssl.get()))
            return false;
        write("GET / HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
        std::string response;
        char c = 0;
        for (int i = 0; i < 32 && !response.ends_with("\r\n\r\n"); ++i) {
            settle();
            while (!response.ends_with("\r\n\r\n") && SSL_read(ssl.get(), &c, 1) == 1)
                response += c;
        }
        upgraded = true;
        return response.starts_with("HTTP/1.1 101");
    }
};

// Steps of three header bytes (operation, 14-bit length) and a payload.
void play(client& c, const std::uint8_t* data, std::size_t size) {
    while (size >= 3) {
        const std::uint8_t op = data[0];
        const std::size_t length = std::min<std::size_t>(data[1] | (data[2] & 0x3f) << 8, size - 3);
        std::string_view payload(reinterpret_cast<const char*>(data + 3), length);
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
            SSL_key_update(c.ssl.get(), (op & 0x80) ? SSL_KEY_UPDATE_REQUESTED
                                                    : SSL_KEY_UPDATE_NOT_REQUESTED);
            SSL_do_handshake(c.ssl.get());
            c.settle();
            break;
        case 3: // close_notify, then keep writing
            SSL_shutdown(c.ssl.get());
            SSL_set_shutdown(c.ssl.get(), 0);
            c.settle();
            break;
        case 4: { // a WebSocket frame: FIN and opcode from the first byte, zero mask
            const char first = payload.empty() ? char(0x82) : payload[0];
            payload.remove_prefix(payload.empty() ? 0 : 1);
            std::string frame{char(first & 0x8f)};
            if (payload.size() < 126)
                frame += char(0x80 | payload.size());
            else
                frame += {char(0x80 | 126), char(payload.size() >> 8), char(payload.size())};
            c.write(frame.append(4, '\0').append(payload));
            break;
        }
        }
        ERR_clear_error();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0 ||
        ::fcntl(fds[1], F_SETFL, O_NONBLOCK) != 0)
        std::abort();
    net::io_context io;
    {
        connection_socket socket(net::make_strand(io));
        socket.assign(net::ip::tcp::v4(), fds[0]);
        server relay_side(std::move(socket), contexts().first.get());
        relay_side.start();
        {
            client peer{fds[1], io};
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
