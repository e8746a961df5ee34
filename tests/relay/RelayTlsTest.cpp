// The relay's own record layer against OpenSSL clients: each cipher suite it
// offers, key updates from either side, messages spanning many records, and
// what it must refuse.

#include "RelaySessionHelpers.h"

#include <openssl/ssl.h>

#include <array>
#include <sys/socket.h>

using namespace velmarin::testing;

namespace {

// Counts KeyUpdate messages a connection receives.
void countKeyUpdates(int writing, int, int contentType, const void* data, std::size_t length, SSL*,
                     void* counter) {
    constexpr int kHandshake = 22;
    constexpr unsigned char kKeyUpdate = 24;
    if (!writing && contentType == kHandshake && length > 0 &&
        static_cast<const unsigned char*>(data)[0] == kKeyUpdate)
        ++*static_cast<int*>(counter);
}

} // namespace

TEST(RelayTls, EverySuiteCarriesLargeMessagesAcrossKeyUpdates) {
    RelayProcess relay;
    for (const char* suite :
         {"TLS_AES_128_GCM_SHA256", "TLS_AES_256_GCM_SHA384", "TLS_CHACHA20_POLY1305_SHA256"}) {
        SCOPED_TRACE(suite);
        const auto only = [suite](ssl_st* ssl) { SSL_set_ciphersuites(ssl, suite); };
        RelayTestClient host(relay.port(), relay.caFile(), "/", only);
        RelayTestClient viewer(relay.port(), relay.caFile(), "/", only);
        EXPECT_STREQ(SSL_CIPHER_standard_name(SSL_get_current_cipher(host.tlsHandle())), suite);
        int updatesFromRelay = 0;
        SSL_set_msg_callback(host.tlsHandle(), &countKeyUpdates);
        SSL_set_msg_callback_arg(host.tlsHandle(), &updatesFromRelay);
        const auto id = registerHost(host, "k7m2pq");
        ASSERT_EQ(connectViewer(viewer, id, "k7m2pq"), "connected");
        ASSERT_EQ(host.receiveType(), "viewer_connected");

        // Over 300 KB: many records per message, several writes per message.
        std::string frame(300 * 1024 + 17, '\0');
        for (int round = 0; round < 3; ++round) {
            for (std::size_t i = 0; i < frame.size(); ++i)
                frame[i] = static_cast<char>((i * 31 + round) & 0xff);
            // The Host asks for new keys, so the relay must take up the
            // Host's new ones and send its own before its next record; the
            // Viewer changes keys without asking.
            ASSERT_EQ(SSL_key_update(host.tlsHandle(), SSL_KEY_UPDATE_REQUESTED), 1);
            ASSERT_EQ(SSL_key_update(viewer.tlsHandle(), SSL_KEY_UPDATE_NOT_REQUESTED), 1);
            ASSERT_TRUE(host.sendBinary(frame));
            const auto received = viewer.receive();
            ASSERT_TRUE(received.has_value());
            EXPECT_TRUE(received->binary);
            EXPECT_TRUE(received->data == frame) << "round " << round;

            ASSERT_TRUE(viewer.sendBinary(frame.substr(0, 70000)));
            ASSERT_TRUE(viewer.send(proto::RequestKeyframeMessage{}));
            const auto back = host.receive();
            ASSERT_TRUE(back.has_value());
            EXPECT_TRUE(back->data == frame.substr(0, 70000));
            EXPECT_EQ(host.receiveType(), "request_keyframe");
            EXPECT_EQ(updatesFromRelay, round + 1) << "the relay answers each requested update";
        }
    }
}

TEST(RelayTls, OlderTlsAndForgedRecordsAreRefusedWithoutDisturbingOthers) {
    RelayProcess relay;
    const auto tls12 = [](ssl_st* ssl) { SSL_set_max_proto_version(ssl, TLS1_2_VERSION); };
    EXPECT_THROW(RelayTestClient(relay.port(), relay.caFile(), "/", tls12), std::exception);

    auto host = client(relay);
    auto viewer = client(relay);
    const auto id = registerHost(*host, "k7m2pq");
    ASSERT_EQ(connectViewer(*viewer, id, "k7m2pq"), "connected");
    ASSERT_EQ(host->receiveType(), "viewer_connected");

    // A well-formed record header whose contents do not authenticate, and
    // one that announces more than a record may hold.
    std::array<unsigned char, 5 + 40> forged{23, 3, 3, 0, 40};
    for (std::size_t i = 5; i < forged.size(); ++i)
        forged[i] = static_cast<unsigned char>(i * 7);
    const std::array<unsigned char, 5> oversized{23, 3, 3, 0x48, 0x01};
    for (const auto& bytes : {std::string(forged.begin(), forged.end()),
                              std::string(oversized.begin(), oversized.end())}) {
        RelayTestClient forger(relay.port(), relay.caFile());
        ASSERT_TRUE(forger.send(proto::PresenceMessage{{id}}));
        ASSERT_EQ(forger.receiveType(), "presence_result");
        ASSERT_EQ(::send(forger.nativeSocket(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
        EXPECT_TRUE(forger.waitClosed());
    }

    ASSERT_TRUE(host->sendBinary(std::string(20000, 'v')));
    const auto frame = viewer->receive();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->data.size(), 20000u);
}
