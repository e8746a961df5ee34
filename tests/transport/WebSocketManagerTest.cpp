#include "protocol/CryptoHelper.h"
#include "support/relay/RelayProcess.h"
#include "support/transport/LocalListener.h"
#include "support/transport/Peer.h"
#include "transport/RelayEndpoint.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace velmarin::testing {
namespace {

using namespace std::chrono_literals;
using namespace protocol;

// Why an operation failed; nothing when it succeeded.
std::optional<transport::WebSocketError> failure(const transport::WebSocketResult& result) {
    return result ? std::nullopt : std::optional<transport::WebSocketError>(result.error());
}
using ::testing::HasSubstr;
using ::testing::StartsWith;
using transport::WebSocketError;

// A relay of our own per test, trusted through the development CA.
class WebSocketManagerTest : public ::testing::Test {
protected:
    WebSocketManagerTest() {
        ::setenv("VELMARIN_RELAY_HOST", relay.hostPort().c_str(), 1);
        ::setenv("VELMARIN_RELAY_CA", relay.caFile().c_str(), 1);
    }

    RelayProcess relay;
};

TEST_F(WebSocketManagerTest, OwnDisconnectAndReconnectAreSilentButTheRelayStoppingIsReportedOnce) {
    Peer peer(transport::relayURL());
    EXPECT_EQ(failure(peer.sendText(R"({"type":"ping","timestamp":1})")),
              WebSocketError::notConnected());
    EXPECT_EQ(WebSocketError::notConnected().description(), "WebSocket is niet verbonden");
    peer.manager().disconnect();

    ASSERT_TRUE(peer.connect());
    for (int twice = 0; twice < 2; ++twice)
        peer.manager().disconnect();
    EXPECT_FALSE(peer.manager().isConnected());
    EXPECT_EQ(failure(peer.sendData({1, 2, 3})), WebSocketError::notConnected());

    // The read that was outstanding fails without a report.
    EXPECT_FALSE(peer.waitForDisconnects(1, 500ms));

    // Connecting while connected closes the old connection as silently: the
    // relay saw it end, and the ID it registered is gone.
    ASSERT_TRUE(peer.connect());
    peer.send(RegisterMessage{.passwordHash = CryptoHelper::sha256hex("abc234")});
    const auto first = peer.nextOf<RegisteredMessage>();
    ASSERT_TRUE(first);
    ASSERT_TRUE(peer.connect());
    EXPECT_TRUE(peer.manager().isConnected());
    std::optional<PresenceResultMessage> presence;
    for (int i = 0; i < 50; ++i) {
        peer.send(PresenceMessage{.ids = {first->id}});
        presence = peer.nextOf<PresenceResultMessage>();
        if (presence && presence->statuses[first->id] == "offline")
            break;
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(presence);
    EXPECT_EQ(presence->statuses[first->id], "offline");
    EXPECT_TRUE(peer.disconnects().empty());
    EXPECT_EQ(peer.log().count("WebSocket receive error"), 0);
    EXPECT_EQ(peer.log().count("WebSocket connected to"), 3);

    // The relay going away, though, is reported exactly once.
    relay.stop();
    ASSERT_TRUE(peer.waitForDisconnects(1, 10s));
    EXPECT_FALSE(peer.waitForDisconnects(2, 500ms));
    const auto reports = peer.disconnects();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind(), WebSocketError::Kind::failed);
    EXPECT_FALSE(reports[0].description().empty());
    EXPECT_EQ(peer.log().count("WebSocket receive error: " + reports[0].reason()), 1);
    EXPECT_FALSE(peer.manager().isConnected());
    // The closed connection is still there: sending fails with its error.
    const auto send = failure(peer.sendText("{}"));
    ASSERT_TRUE(send);
    EXPECT_EQ(send->kind(), WebSocketError::Kind::failed);
    peer.manager().disconnect();
    EXPECT_EQ(peer.disconnects().size(), 1u);
}

TEST_F(WebSocketManagerTest, TextAndBinaryFromManyThreadsArriveCompleteAndInOrder) {
    PairedPeers peers(transport::relayURL());
    // Each thread's messages in order: binary frames from even threads (the
    // thread in the first byte), chat texts "thread:index" from odd ones.
    constexpr std::size_t kThreads = 4;
    std::vector<std::vector<transport::WebSocketMessage>> sent(kThreads);
    for (std::size_t t = 0; t < kThreads; ++t) {
        for (int i = 0; i < 60; ++i) {
            std::vector<std::uint8_t> frame(1000 + i, static_cast<std::uint8_t>(i));
            frame[0] = static_cast<std::uint8_t>(t);
            const ChatMessage chat{.sender = "host",
                                   .text = std::to_string(t) + ":" + std::to_string(i)};
            sent[t].push_back(
                t % 2 == 0 ? transport::WebSocketMessage::makeBinary(std::move(frame))
                           : transport::WebSocketMessage::makeText(*ProtocolEncoder::encode(chat)));
        }
    }
    std::vector<std::thread> senders;
    std::atomic<int> failures{0};
    for (std::size_t t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            for (const auto& m : sent[t])
                failures +=
                    !(m.isText() ? peers.host.sendText(m.text) : peers.host.sendData(m.data));
        });
    }
    for (auto& sender : senders)
        sender.join();
    EXPECT_EQ(failures, 0);

    std::vector<std::size_t> next(kThreads);
    for (std::size_t n = 0; n < kThreads * 60; ++n) {
        const auto message = peers.viewer.next();
        ASSERT_TRUE(message) << "after " << n << " messages";
        const auto chat = ProtocolEncoder::decode<ChatMessage>(message->text);
        const std::size_t t = chat                    ? std::stoul(chat->text)
                              : message->data.empty() ? kThreads
                                                      : message->data[0];
        ASSERT_LT(t, kThreads) << "message " << n;
        ASSERT_LT(next[t], sent[t].size()) << "thread " << t;
        EXPECT_TRUE(*message == sent[t][next[t]++]) << "thread " << t << ", message " << n;
    }
}

TEST_F(WebSocketManagerTest, MessageOverFiveMebibytesEndsTheConnection) {
    // This relay forwards up to 8 MiB, so the limit met is the client's own.
    relay.stop();
    RelayProcess bigRelay({"--max-message-bytes", "8388608", "--video-queue-bytes", "16777216"});
    ::setenv("VELMARIN_RELAY_HOST", bigRelay.hostPort().c_str(), 1);
    PairedPeers peers(transport::relayURL());

    constexpr std::size_t kLimit = 5 * 1024 * 1024;
    std::vector<std::uint8_t> largest(kLimit, 0x5a);
    ASSERT_TRUE(peers.host.sendData(largest));
    const auto received = peers.viewer.next(20s);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->data.size(), kLimit);

    largest.push_back(0x5a);
    ASSERT_TRUE(peers.host.sendData(std::move(largest)));
    ASSERT_TRUE(peers.viewer.waitForDisconnects(1, 20s));
    const auto reports = peers.viewer.disconnects();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports[0].description(), "een bericht is groter dan 5 MiB")
        << ::testing::PrintToString(peers.viewer.log().lines());
    EXPECT_FALSE(peers.viewer.manager().isConnected());
    EXPECT_FALSE(peers.viewer.waitForDisconnects(2, 300ms));
}

// A failed attempt leaves nothing behind: no connection to send on, no report.
void expectFailedConnect(const std::string& url, const std::string& reasonPart) {
    Peer peer(url);
    const auto error = failure(peer.connect());
    ASSERT_TRUE(error) << url;
    EXPECT_EQ(error->kind(), WebSocketError::Kind::connectionFailed);
    EXPECT_THAT(error->description(), StartsWith("Verbinding mislukt: "));
    EXPECT_THAT(error->reason(), HasSubstr(reasonPart)) << url;
    EXPECT_FALSE(peer.manager().isConnected());
    EXPECT_EQ(failure(peer.sendText("{}")), WebSocketError::notConnected());
    EXPECT_EQ(peer.log().count("WebSocket connection failed: " + error->reason()), 1);
    EXPECT_TRUE(peer.disconnects().empty());
}

TEST_F(WebSocketManagerTest, UnreachableRefusingOrUnprovenPeersFailToConnect) {
    const std::string port = std::to_string(relay.port());
    relay.stop();
    expectFailedConnect("wss://127.0.0.1:" + port, "weigert de verbinding");

    LocalListener hangUp(LocalListener::Mode::hangUp, "127.0.0.1");
    expectFailedConnect("wss://127.0.0.1:" + std::to_string(hangUp.port()), "onderbroken");

    // A server with a trusted certificate that declines the WebSocket upgrade.
    const std::string certs = RelayProcess::certDir();
    LocalListener refuser(LocalListener::Mode::refuseUpgrade, "127.0.0.1", certs + "/relay.crt",
                          certs + "/relay.key");
    expectFailedConnect("wss://localhost:" + std::to_string(refuser.port()),
                        "weigert de WebSocket-verbinding");
    EXPECT_EQ(refuser.upgradesRefused(), 1);

    // Certificates that do not prove the host dialled.
    UntrustedCertificate untrusted;
    LocalListener selfSigned(LocalListener::Mode::refuseUpgrade, "127.0.0.1", untrusted.certFile,
                             untrusted.keyFile);
    expectFailedConnect("wss://localhost:" + std::to_string(selfSigned.port()),
                        "certificaat van de server wordt niet vertrouwd");

    // Trusted authority, but issued for other names than the one dialled.
    LocalListener wrongName(LocalListener::Mode::refuseUpgrade, "127.0.0.2", certs + "/relay.crt",
                            certs + "/relay.key");
    expectFailedConnect("wss://127.0.0.2:" + std::to_string(wrongName.port()),
                        "certificaat van de server wordt niet vertrouwd");
    EXPECT_EQ(selfSigned.upgradesRefused() + wrongName.upgradesRefused(), 0);
}

TEST(RelayEndpoint, HostPortAndAddressesFromTheEnvironment) {
    ::unsetenv("VELMARIN_RELAY_HOST");
    EXPECT_EQ(transport::relayURL(), "wss://localhost:8766");
    ::setenv("VELMARIN_RELAY_HOST", "relay.example:9000", 1);
    EXPECT_EQ(transport::relayURL(), "wss://relay.example:9000");
    ::setenv("VELMARIN_RELAY_HOST", "::1", 1);
    EXPECT_EQ(transport::relayURL(), "wss://[::1]:8766");

    const auto v6 = transport::parseWebSocketURL("wss://[::1]:8766");
    ASSERT_TRUE(v6);
    EXPECT_EQ(std::tie(v6->host, v6->port, v6->hostHeader, v6->target),
              std::tuple("::1", "8766", "[::1]:8766", "/"));
    EXPECT_FALSE(transport::parseWebSocketURL("ws://localhost:8766"));
    EXPECT_FALSE(transport::parseWebSocketURL("wss://localhost:99999"));
    EXPECT_FALSE(transport::parseWebSocketURL("wss://:8766"));

    Peer peer("https://localhost");
    const auto error = failure(peer.connect());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), WebSocketError::Kind::connectionFailed);
}

} // namespace
} // namespace velmarin::testing
