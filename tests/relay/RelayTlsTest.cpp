// The relay's TLS against OpenSSL clients: cipher suites, key updates, large
// messages, no tickets, refusals, floods, records after close_notify.

#include "RelaySessionHelpers.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

using namespace velmarin::testing;
using namespace std::chrono_literals;

namespace {

struct ReceivedHandshakes {
    int keyUpdates = 0;
    int sessionTickets = 0;
};

// Counts KeyUpdate and NewSessionTicket messages a connection receives.
void countHandshakes(int writing, int, int contentType, const void* data, std::size_t length, SSL*,
                     void* counts) {
    if (writing || contentType != SSL3_RT_HANDSHAKE || length == 0)
        return;
    auto& c = *static_cast<ReceivedHandshakes*>(counts);
    const auto type = static_cast<const unsigned char*>(data)[0];
    if (type == SSL3_MT_KEY_UPDATE)
        ++c.keyUpdates;
    else if (type == SSL3_MT_NEWSESSION_TICKET)
        ++c.sessionTickets;
}

// A WebSocket client straight on blocking OpenSSL, for what a well-behaved
// client never sends: KeyUpdates by the thousand, records after close_notify.
struct RawWebSocketClient {
    RawWebSocketClient(std::uint16_t port, const std::string& caFile)
        : fd(loopbackSocket(port, 5s)) {
        // OpenSSL writes with write(): EPIPE, not a signal, once the relay hung up.
        std::signal(SIGPIPE, SIG_IGN);
        SSL_CTX_load_verify_locations(context.get(), caFile.c_str(), nullptr);
        SSL_set_verify(ssl.get(), SSL_VERIFY_PEER, nullptr);
        SSL_set1_host(ssl.get(), "localhost");
        SSL_set_tlsext_host_name(ssl.get(), "localhost");
        if (fd < 0 || !SSL_set_fd(ssl.get(), fd) || SSL_connect(ssl.get()) != 1)
            throw std::runtime_error("TLS connection failed");
        const std::string upgrade = "GET / HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\n"
                                    "Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                                    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
        std::string response;
        char c = 0;
        if (!write(upgrade))
            throw std::runtime_error("upgrade request failed");
        while (!response.ends_with("\r\n\r\n") && SSL_read(ssl.get(), &c, 1) == 1)
            response += c;
        if (!response.starts_with("HTTP/1.1 101"))
            throw std::runtime_error("no WebSocket upgrade: " + response);
    }
    ~RawWebSocketClient() { ::close(fd); }

    bool write(std::string_view bytes) {
        std::size_t written = 0;
        return SSL_write_ex(ssl.get(), bytes.data(), bytes.size(), &written) == 1;
    }

    // A short client frame (FIN set) with an all-zero mask: payload as it is.
    static std::string frame(unsigned char opcode, std::string_view payload) {
        return std::string{char(0x80 | opcode), char(0x80 | payload.size()), 0, 0, 0, 0} +
               std::string(payload);
    }

    bool read(void* data, std::size_t size) {
        auto* at = static_cast<char*>(data);
        std::size_t done = 0;
        while (size > 0 && SSL_read_ex(ssl.get(), at, size, &done) == 1) {
            at += done;
            size -= done;
        }
        return size == 0;
    }

    // Whether the relay ends the connection within the time-out (skipping data).
    bool endedByRelay() {
        char skipped[4096];
        for (;;) {
            const auto n = ::recv(fd, skipped, sizeof skipped, 0);
            if (n == 0 || (n < 0 && errno == ECONNRESET))
                return true;
            if (n < 0)
                return false; // time-out
        }
    }

    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context{SSL_CTX_new(TLS_client_method()),
                                                              &SSL_CTX_free};
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl{SSL_new(context.get()), &SSL_free};
    int fd;
};

} // namespace

TEST(RelayTls, EverySuiteCarriesLargeMessagesAcrossKeyUpdates) {
    RelayProcess relay;
    for (const char* suite :
         {"TLS_AES_128_GCM_SHA256", "TLS_AES_256_GCM_SHA384", "TLS_CHACHA20_POLY1305_SHA256"}) {
        SCOPED_TRACE(suite);
        // Both count what the relay sends them from the first handshake on.
        ReceivedHandshakes fromRelay;
        PairedSession s(relay, "k7m2pq", [&](ssl_st* ssl) {
            SSL_set_ciphersuites(ssl, suite);
            SSL_set_msg_callback(ssl, &countHandshakes);
            SSL_set_msg_callback_arg(ssl, &fromRelay);
        });
        EXPECT_STREQ(SSL_CIPHER_standard_name(SSL_get_current_cipher(s.host->tlsHandle())), suite);

        // Over 300 KB: many records per message, several writes per message.
        std::string frame(300 * 1024 + 17, '\0');
        for (int round = 0; round < 3; ++round) {
            for (std::size_t i = 0; i < frame.size(); ++i)
                frame[i] = static_cast<char>((i * 31 + round) & 0xff);
            // The Host asks for new keys (the relay must answer with its own
            // before its next record); the Viewer changes keys without asking.
            ASSERT_EQ(SSL_key_update(s.host->tlsHandle(), SSL_KEY_UPDATE_REQUESTED), 1);
            ASSERT_EQ(SSL_key_update(s.viewer->tlsHandle(), SSL_KEY_UPDATE_NOT_REQUESTED), 1);
            ASSERT_TRUE(s.host->sendBinary(frame));
            const auto received = s.viewer->receive();
            ASSERT_TRUE(received.has_value());
            EXPECT_TRUE(received->binary);
            EXPECT_TRUE(received->data == frame) << "round " << round;

            ASSERT_TRUE(s.viewer->sendBinary(frame.substr(0, 70000)));
            ASSERT_TRUE(s.viewer->send(proto::RequestKeyframeMessage{}));
            EXPECT_TRUE(dataOf(s.host->receive()) == frame.substr(0, 70000)) << "round " << round;
            EXPECT_EQ(s.host->receiveType(), "request_keyframe");
            EXPECT_EQ(fromRelay.keyUpdates, round + 1) << "the relay answers each requested update";
        }
        // No tickets: sealed outside our write path, useless for one long connection.
        EXPECT_EQ(fromRelay.sessionTickets, 0);
        EXPECT_FALSE(SSL_SESSION_is_resumable(SSL_get_session(s.host->tlsHandle())));
    }
}

TEST(RelayTls, OlderTlsForgedRecordsAndRecordsAfterCloseNotifyReachNobody) {
    RelayProcess relay;
    const auto tls12 = [](ssl_st* ssl) { SSL_set_max_proto_version(ssl, TLS1_2_VERSION); };
    EXPECT_THROW(RelayTestClient(relay.port(), relay.caFile(), "/", tls12), std::exception);

    PairedSession s(relay);

    // A record that does not authenticate, and one longer than allowed.
    for (const auto& bytes : {std::string("\x17\x03\x03\x00\x28", 5) + std::string(40, 'x'),
                              std::string("\x17\x03\x03\x48\x01", 5)}) {
        RelayTestClient forger(relay.port(), relay.caFile());
        ASSERT_TRUE(forger.send(proto::PresenceMessage{{s.id}}));
        ASSERT_EQ(forger.receiveType(), "presence_result");
        ASSERT_EQ(::send(forger.nativeSocket(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
        EXPECT_TRUE(forger.waitClosed());
    }

    ASSERT_TRUE(s.host->sendBinary(std::string(20000, 'v')));
    EXPECT_EQ(dataOf(s.viewer->receive()), std::string(20000, 'v'));

    // A Host that sends records after its close_notify.
    RawWebSocketClient host(relay.port(), relay.caFile());
    ASSERT_TRUE(host.write(RawWebSocketClient::frame(
        0x1, *proto::ProtocolEncoder::encode(proto::RegisterMessage{
                 .passwordHash = proto::CryptoHelper::sha256hex("k7m2pq")}))));
    unsigned char header[2]; // a short text message: its length in the second byte
    ASSERT_TRUE(host.read(header, 2));
    std::string text(header[1] & 0x7f, '\0');
    ASSERT_TRUE(host.read(text.data(), text.size()));
    const auto registered = proto::ProtocolEncoder::decode<proto::RegisteredMessage>(text);
    ASSERT_TRUE(registered.has_value()) << text;
    auto viewer = client(relay);
    ASSERT_EQ(connectViewer(*viewer, registered->id, "k7m2pq"), "connected");

    ASSERT_TRUE(host.write(RawWebSocketClient::frame(0x2, "before")));
    SSL_shutdown(host.ssl.get()); // close_notify
    // Forget the close_notify so OpenSSL seals more records, just too late.
    SSL_set_shutdown(host.ssl.get(), 0);
    ASSERT_TRUE(host.write(RawWebSocketClient::frame(0x2, "after")));
    ASSERT_TRUE(host.write(RawWebSocketClient::frame(0x1, R"({"type":"request_keyframe"})")));

    EXPECT_EQ(dataOf(viewer->receive()), "before");
    EXPECT_EQ(viewer->receiveType(), "host_disconnected");
    EXPECT_FALSE(viewer->receive(300ms).has_value());
    EXPECT_TRUE(host.endedByRelay());
}

TEST(RelayTls, KeyUpdateFloodsEndTheFlooderAndOthersStayResponsive) {
    RelayProcess relay;
    auto other = client(relay);
    std::atomic<bool> flooding{true};
    std::atomic<int> floodersEnded{0};
    std::atomic<int> floodersStarted{0};
    std::atomic<long> updatesWithData{0};

    // Only KeyUpdates, each asking for the relay's: it must hang up early.
    std::thread keyUpdatesOnly([&] {
        RawWebSocketClient flooder(relay.port(), relay.caFile());
        ++floodersStarted;
        for (int i = 0; i < 100000; ++i) {
            SSL_key_update(flooder.ssl.get(), SSL_KEY_UPDATE_REQUESTED);
            if (SSL_do_handshake(flooder.ssl.get()) != 1)
                break;
        }
        ERR_clear_error();
        if (flooder.endedByRelay())
            ++floodersEnded;
    });
    // A KeyUpdate before every empty message: allowed, so only the relay's
    // turn-taking keeps it from hogging a thread.
    std::thread keyUpdatesWithData([&] {
        RawWebSocketClient flooder(relay.port(), relay.caFile());
        ++floodersStarted;
        const auto empty = RawWebSocketClient::frame(0x2, {});
        while (flooding) {
            SSL_key_update(flooder.ssl.get(), SSL_KEY_UPDATE_NOT_REQUESTED);
            if (!flooder.write(empty))
                break;
            ++updatesWithData;
        }
        ERR_clear_error();
    });

    while (floodersStarted < 2)
        std::this_thread::sleep_for(1ms);
    std::vector<std::chrono::microseconds> roundTrips;
    for (int i = 0; i < 40; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const auto timestamp =
            std::uint64_t{1733480000000} + std::uint64_t(i); // wider than 32 bits
        ASSERT_TRUE(other->send(proto::PingMessage{timestamp}));
        const auto pong = other->receiveAs<proto::PongMessage>();
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - start);
        ASSERT_TRUE(pong.has_value());
        EXPECT_EQ(pong->timestamp, timestamp);
        roundTrips.push_back(took);
        std::this_thread::sleep_for(20ms);
    }
    flooding = false;
    keyUpdatesOnly.join();
    keyUpdatesWithData.join();
    // A read working through a flood stalls its thread for seconds; a busy
    // machine may delay a single round trip past 50 ms, so nine in ten.
    std::sort(roundTrips.begin(), roundTrips.end());
    EXPECT_LT(roundTrips[roundTrips.size() * 9 / 10], 50ms)
        << "round trip of another client during the floods";
    EXPECT_LT(roundTrips.back(), 500ms);
    EXPECT_EQ(floodersEnded, 1) << "the relay ends a connection that only sends KeyUpdates";
    EXPECT_GT(updatesWithData, 100) << "the second flood must have run";
}
