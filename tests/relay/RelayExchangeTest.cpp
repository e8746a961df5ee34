// The exchanges clients rely on, over real TLS against the real relay.

#include "RelaySessionHelpers.h"

#include <csignal>
#include <regex>
#include <thread>

using namespace velmarin::testing;
using namespace std::chrono_literals;

TEST(RelayExchange, PairingNeedsTheRootPathAKnownIdAFreeHostAndTheRightPassword) {
    RelayProcess relay;
    EXPECT_THROW(RelayTestClient(relay.port(), relay.caFile(), "/anders"), std::exception);
    auto host = client(relay);
    EXPECT_TRUE(host->ping()); // WebSocket pings are answered before any message
    const auto id = registerHost(*host, "k7m2pq");
    EXPECT_TRUE(std::regex_match(id, std::regex("[1-9][0-9]{8}"))) << id;
    // A requested ID that is no ID gets a random one (a free, valid one is
    // honoured: RelayIds, and the fixed-ID tests of the coordinator).
    const auto instead = registerHost(*client(relay), "k7m2pq", "12345");
    EXPECT_TRUE(std::regex_match(instead, std::regex("[1-9][0-9]{8}"))) << instead;

    auto intruder = client(relay);
    EXPECT_EQ(connectViewer(*intruder, id, "k7m2pr"), "Onjuist wachtwoord.");
    // A nonce is good for one answer only.
    EXPECT_TRUE(intruder->send(proto::ChallengeResponseMessage{std::string(64, 'a')}));
    EXPECT_EQ(answerOf(intruder->receive()),
              "Onverwacht antwoord: vraag eerst een verbinding aan.");
    for (const std::string unknown : {id == "123456789" ? "987654321" : "123456789", "12-34"})
        EXPECT_EQ(connectViewer(*intruder, unknown, "k7m2pq"),
                  "Apparaat niet gevonden of offline.");

    auto viewer = client(relay);
    ASSERT_EQ(connectViewer(*viewer, id, "k7m2pq"), "connected");
    EXPECT_EQ(connectViewer(*client(relay), id, "k7m2pq"),
              "Dit apparaat heeft al een actieve sessie.");
    // The failed attempts did not disturb the session.
    EXPECT_EQ(host->receiveType(), "viewer_connected");
}

TEST(RelayExchange, ForwardsUnchangedInOrderKeepsSessionsApartAndEndsThemForEitherSide) {
    RelayProcess relay;
    PairedSession s(relay);
    constexpr int kCount = 600;
    std::vector<std::string> sent;
    for (int i = 0; i < kCount; ++i) {
        if (i % 3 == 0) {
            sent.push_back(frame(i, i % 30 == 0, 1000 + i * 17));
            ASSERT_TRUE(s.host->sendBinary(sent.back()));
        } else {
            // Unknown keys and spacing must survive: the relay does not re-encode.
            sent.push_back(R"({"type":"chat", "sender":"host","text":"bericht )" +
                           std::to_string(i) + R"(","timestamp":1,"extra":[1,2]})");
            ASSERT_TRUE(s.host->sendText(sent.back()));
        }
    }
    for (int i = 0; i < kCount; ++i) {
        const auto got = s.viewer->receive();
        ASSERT_TRUE(got.has_value()) << "message " << i;
        EXPECT_EQ(got->binary, i % 3 == 0);
        ASSERT_EQ(got->data, sent[i]) << "message " << i;
    }
    // Pings between paired peers are theirs to answer, not the relay's.
    ASSERT_TRUE(s.viewer->send(proto::PingMessage{42}));
    ASSERT_TRUE(s.viewer->send(proto::RequestKeyframeMessage{}));
    EXPECT_EQ(s.host->receiveAs<proto::PingMessage>(), proto::PingMessage{42});
    EXPECT_EQ(s.host->receiveType(), "request_keyframe");
    ASSERT_TRUE(s.host->send(proto::PongMessage{42}));
    EXPECT_EQ(s.viewer->receiveAs<proto::PongMessage>(), proto::PongMessage{42});

    // USR1 logs the counters, timing each forwarded message (not the relay's
    // own) once its write completes, maybe just after the client read it: ask
    // until all are in; each line covers the time since the previous one.
    const std::regex line("forward_timed=([0-9]+) forward_p50_us=([0-9]+) .*socket_wait_p50_us=");
    unsigned long timed = 0, p50 = 0;
    for (int i = 0; i < 50 && timed < kCount + 3; ++i) {
        ::kill(relay.pid(), SIGUSR1);
        std::this_thread::sleep_for(40ms);
        const auto log = relay.logText();
        timed = 0;
        for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
            timed += std::stoul((*it)[1]);
            p50 = std::max(p50, std::stoul((*it)[2]));
        }
    }
    EXPECT_EQ(timed, static_cast<unsigned long>(kCount + 3));
    EXPECT_GT(p50, 0u);

    // Another session at the same time stays apart from this one.
    PairedSession b(relay, "bbb333");
    for (int i = 0; i < 50; ++i) {
        s.host->sendBinary(frame(i, false, 500));
        b.host->sendBinary(frame(1000 + i, false, 700));
    }
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(dataOf(s.viewer->receive()), frame(i, false, 500));
        EXPECT_EQ(dataOf(b.viewer->receive()), frame(1000 + i, false, 700));
    }
    s.viewer->send(proto::DisconnectMessage{});
    EXPECT_EQ(s.host->receiveType(), "viewer_disconnected");
    b.viewer->send(proto::ChatMessage{.sender = "viewer", .text = "nog hier", .timestamp = 5});
    EXPECT_EQ(b.host->receiveAs<proto::ChatMessage>()->text, "nog hier");
    EXPECT_FALSE(s.host->receive(200ms).has_value());

    // The Host stays for the next Viewer, who may also leave without a goodbye.
    auto next = client(relay);
    EXPECT_EQ(connectViewer(*next, s.id, "abc234"), "connected");
    EXPECT_EQ(s.host->receiveType(), "viewer_connected");
    next->close(); // without a goodbye
    EXPECT_EQ(s.host->receiveType(), "viewer_disconnected");
    // The first Viewer's connection is still usable for another session.
    EXPECT_EQ(connectViewer(*s.viewer, s.id, "abc234"), "connected");
    EXPECT_EQ(s.host->receiveType(), "viewer_connected");

    s.host->send(proto::DisconnectMessage{});
    EXPECT_EQ(s.viewer->receiveType(), "host_disconnected");
    EXPECT_TRUE(s.host->waitClosed()); // the relay closes a leaving Host
    EXPECT_EQ(connectViewer(*s.viewer, s.id, "abc234"), "Apparaat niet gevonden of offline.");

    b.host->close(); // without a goodbye
    EXPECT_EQ(b.viewer->receiveType(), "host_disconnected");
    // Messages after the end of the session go nowhere and draw no error.
    b.viewer->send(proto::MouseEventMessage{.action = "move"});
    EXPECT_FALSE(b.viewer->receive(200ms).has_value());
}
