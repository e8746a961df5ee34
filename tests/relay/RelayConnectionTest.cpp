// Connections that misbehave within the protocol: receivers that stop
// reading, large messages before registration, input before pairing.

#include "RelaySessionHelpers.h"

using namespace velmarin::testing;
using namespace std::chrono_literals;

namespace {

const std::string kOverloaded =
    "De relayserver is op dit moment overbelast. Probeer het later opnieuw.";

// A small receive buffer, as over a slow link: unread data piles up in the relay.
void holdBackReading(RelayTestClient& receiver) {
    const int bytes = 64 * 1024;
    ::setsockopt(receiver.nativeSocket(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

// 15 MB of video.
void streamTo(RelayTestClient& host) {
    for (std::uint32_t i = 0; i < 150; ++i)
        ASSERT_TRUE(host.sendBinary(frame(i, i == 0, 100 * 1024)));
}

// Asks to connect to `id` until the answer is (`equal`) or is not `error`.
std::string connectAnswerUntil(RelayTestClient& probe, const std::string& id,
                               const std::string& error, bool equal) {
    std::string answer;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        probe.send(proto::ConnectMessage{id});
        answer = answerOf(probe.receive());
        if ((answer == error) == equal)
            break;
        std::this_thread::sleep_for(100ms);
    }
    return answer;
}

} // namespace

TEST(RelayConnection, HalfClosedReceiverIsClosedAndTheQueueBudgetComesBack) {
    RelayProcess relay({"--queue-budget-bytes", "1048576"});
    PairedSession stuck(relay);
    holdBackReading(*stuck.viewer);
    auto other = client(relay);
    const auto otherId = registerHost(*other, "q8w3er");
    auto probe = client(relay);
    EXPECT_EQ(connectAnswerUntil(*probe, otherId, kOverloaded, false), "challenge");

    // The Viewer stops reading: past the relay-wide budget, new sessions are refused.
    streamTo(*stuck.host);
    EXPECT_EQ(connectAnswerUntil(*probe, otherId, kOverloaded, true), kOverloaded);
    EXPECT_TRUE(other->isOpen());

    // It half-closes, still not reading: the relay closes it and frees the bytes.
    ::shutdown(stuck.viewer->nativeSocket(), SHUT_WR);
    EXPECT_EQ(connectAnswerUntil(*probe, otherId, kOverloaded, false), "challenge");
}

TEST(RelayConnection, ReceiverThatStopsReadingIsClosedAfterTheWriteTimeout) {
    RelayProcess relay({"--write-timeout", "2", "--idle-timeout", "60"});
    PairedSession s(relay);
    holdBackReading(*s.viewer);
    streamTo(*s.host);
    // The Viewer reads nothing; the Host hears when the relay gives up on it.
    std::optional<std::string> type;
    for (int i = 0; i < 20 && type != "viewer_disconnected"; ++i)
        type = s.host->receiveType(1s);
    EXPECT_EQ(type, "viewer_disconnected");
    EXPECT_NE(relay.logText().find("a write did not finish in 2 s"), std::string::npos);
}

TEST(RelayConnection, UnpairedInputIsBoundedOrDroppedQuietlyAndPairedPeersGetTheFullLimit) {
    RelayProcess relay;
    // A large text from a connection nobody knows yet is not even stored.
    auto stranger = client(relay);
    const std::string padding(20 * 1024, ' ');
    ASSERT_TRUE(stranger->sendText(R"({"type":"ping","timestamp":1)" + padding + "}"));
    EXPECT_TRUE(stranger->waitClosed());
    auto poller = client(relay);
    ASSERT_TRUE(poller->sendText(R"({"type":"ping","timestamp":7)" + std::string(8000, ' ') + "}"));
    EXPECT_EQ(poller->receiveAs<proto::PongMessage>()->timestamp, 7u);

    // A Host's early keyframes may be large: skipped, not fatal.
    auto host = client(relay);
    for (std::uint32_t i = 0; i < 3; ++i)
        ASSERT_TRUE(host->sendBinary(frame(i, true, 300 * 1024)));
    const auto id = registerHost(*host, "abc234");
    ASSERT_FALSE(id.empty());

    // Input right after a refused answer draws nothing; the Viewer may retry.
    const proto::MouseEventMessage move{.action = std::string(proto::MouseAction::move)};
    auto viewer = client(relay);
    EXPECT_EQ(connectViewer(*viewer, id, "fout99"), "Onjuist wachtwoord.");
    for (int i = 0; i < 60; ++i)
        ASSERT_TRUE(viewer->send(move));
    EXPECT_EQ(viewer->receive(300ms), std::nullopt);
    ASSERT_TRUE(viewer->isOpen());

    // Input between "connect" and "connected" of a normal log-in.
    viewer->send(proto::ConnectMessage{id});
    const auto challenge = viewer->receiveAs<proto::ChallengeMessage>();
    ASSERT_TRUE(challenge.has_value());
    viewer->send(move);
    viewer->send(proto::ChatMessage{.sender = "viewer", .text = "hoi", .timestamp = 1});
    ASSERT_TRUE(viewer->sendBinary(frame(0, true, 100)));
    viewer->send(proto::ChallengeResponseMessage{
        proto::CryptoHelper::challengeResponse("abc234", challenge->nonce)});
    EXPECT_EQ(viewer->receiveType(), "connected");
    EXPECT_EQ(host->receiveType(), "viewer_connected");
    EXPECT_EQ(host->receive(200ms), std::nullopt) << "sent before pairing, reached the Host";

    // Paired, the full limit applies both ways.
    const std::string text(200 * 1024, 't');
    host->send(proto::ChatMessage{.sender = "host", .text = text, .timestamp = 1});
    EXPECT_EQ(viewer->receiveAs<proto::ChatMessage>()->text, text);
    viewer->send(proto::ClipboardMessage{.content = text, .clipId = "c1"});
    EXPECT_EQ(host->receiveAs<proto::ClipboardMessage>()->content, text);
}
