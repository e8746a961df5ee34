// Limits that keep the relay safe, on a real relay with small limits.

#include "RelaySessionHelpers.h"

#include <fstream>

using namespace velmarin::testing;
using namespace std::chrono_literals;

namespace {

std::optional<proto::ReceivedFrame> parsed(const std::string& message) {
    return proto::parseFrame(
        {reinterpret_cast<const std::uint8_t*>(message.data()), message.size()});
}

// Peak resident memory of a process, in KiB.
long peakRssKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmHWM:" && status >> value)
            return value;
    }
    return -1;
}

} // namespace

TEST(RelayLimits, FailedAnswersAreLimitedPerHostAndPerAddressAndNothingSecretIsLogged) {
    RelayProcess relay({"--target-failures", "2", "--target-refill", "60", "--address-failures",
                        "3", "--address-refill", "60"});
    auto host = client(relay);
    const auto id = registerHost(*host, "goed22");
    auto other = client(relay);
    const auto otherId = registerHost(*other, "goed33");

    // Two failures at one Host, over two connections: it takes no more answers.
    for (const char* wrong : {"fout22", "fout23"}) {
        EXPECT_EQ(relay.logText().find("mislukte inlogpogingen"), std::string::npos);
        EXPECT_EQ(connectViewer(*client(relay), id, wrong), "Onjuist wachtwoord.");
    }
    const auto refused = connectViewer(*client(relay), id, "goed22");
    EXPECT_TRUE(refused.starts_with("Te veel mislukte pogingen. Probeer het over ")) << refused;
    EXPECT_NE(relay.logText().find("host=" + id + ": 2 mislukte inlogpogingen"), std::string::npos)
        << relay.logText();
    // The address's third failure, at another Host, spends the address's tries.
    auto viewer = client(relay);
    EXPECT_EQ(connectViewer(*viewer, otherId, "fout33"), "Onjuist wachtwoord.");
    EXPECT_TRUE(connectViewer(*viewer, otherId, "goed33").starts_with("Te veel"));
    EXPECT_EQ(host->receive(100ms), std::nullopt);
    EXPECT_EQ(other->receive(100ms), std::nullopt);

    const auto log = relay.logText();
    EXPECT_NE(log.find("auth failure"), std::string::npos);
    EXPECT_EQ(log.find(proto::CryptoHelper::sha256hex("goed22")), std::string::npos);
    EXPECT_EQ(log.find(proto::CryptoHelper::sha256hex("goed22").substr(0, 16)), std::string::npos);
}

TEST(RelayLimits, ConnectionsBeyondTheCapsAreRefused) {
    for (const auto& [option, cap] :
         {std::pair{"--max-connections", 2}, std::pair{"--connections-per-address", 3}}) {
        SCOPED_TRACE(option);
        RelayProcess relay({option, std::to_string(cap)});
        std::vector<std::unique_ptr<RelayTestClient>> open;
        for (int i = 0; i < cap; ++i) {
            open.push_back(admittedClient(relay));
            ASSERT_TRUE(open.back());
        }
        EXPECT_THROW(client(relay), std::exception);
        EXPECT_TRUE(open.back()->ping());
        open.pop_back();
        const auto next = admittedClient(relay);
        EXPECT_TRUE(next && next->ping());
    }
}

TEST(RelayLimits, SilentConnectionsAreClosedButPresencePollersStay) {
    RelayProcess relay({"--auth-timeout", "1", "--handshake-timeout", "1"});
    const int raw = loopbackSocket(relay.port(), 4s); // never starts TLS
    char byte = 0;
    EXPECT_EQ(::recv(raw, &byte, 1, 0), 0) << "still open";
    ::close(raw);
    auto silent = client(relay);
    auto streamer = client(relay); // video only, never registers
    auto poller = client(relay);
    poller->send(proto::PresenceMessage{{"123456789"}});
    ASSERT_TRUE(poller->receiveAs<proto::PresenceResultMessage>().has_value());
    EXPECT_TRUE(silent->ping()); // a ping frame is not a request
    for (std::uint32_t i = 0; streamer->isOpen() && i < 80; ++i) {
        streamer->sendBinary(frame(i, i == 0, 1000));
        EXPECT_EQ(streamer->receive(50ms), std::nullopt); // no answer, also notices the close
    }
    EXPECT_FALSE(streamer->isOpen()) << "dropped video kept an unregistered connection open";
    EXPECT_TRUE(silent->waitClosed(4s));
    EXPECT_TRUE(poller->ping());
    EXPECT_TRUE(poller->isOpen());
}

TEST(RelayLimits, QuietPeersThatAnswerPingsStayAndUnresponsiveOnesAreClosed) {
    RelayProcess relay({"--idle-timeout", "2"});
    auto quiet = client(relay);
    auto unresponsive = client(relay);
    const auto id = registerHost(*quiet, "k7m2pq");
    registerHost(*unresponsive, "k7m2pq");
    // Nothing to read for three seconds; reading answers the relay's pings.
    EXPECT_EQ(quiet->receive(3500ms), std::nullopt);
    EXPECT_TRUE(quiet->isOpen());
    auto poller = client(relay);
    poller->send(proto::PresenceMessage{{id}});
    EXPECT_EQ(poller->receiveAs<proto::PresenceResultMessage>()->statuses.at(id), "online");
    // The other one read nothing in that time, so it never answered.
    EXPECT_TRUE(unresponsive->waitClosed(1s));
}

TEST(RelayLimits, BadInputGetsDutchErrorsAndNeverDisturbsOtherSessions) {
    RelayProcess relay({"--max-message-bytes", "65536"});
    PairedSession session(relay);
    auto bad = client(relay);

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"geen json", "Ongeldig bericht."},
        {R"({"type":7})", "Ongeldig bericht."},
        {R"({"type":"mouse","action":"move","x":0,"y":0,"button":0})",
         "Onverwacht bericht: registreer eerst of maak verbinding met een apparaat."},
        {R"({"type":"connect","targetId":123456789})", "Ongeldig bericht."},
        {R"({"type":"register","role":"viewer","passwordHash":")" + std::string(64, 'a') + "\"}",
         "Alleen een host kan zich registreren."},
        {R"({"type":"register","role":"host","passwordHash":"ABC"})",
         "Registratie geweigerd: ongeldige wachtwoord-hash."},
        {R"({"type":"challenge_response","response":"x"})",
         "Onverwacht antwoord: vraag eerst een verbinding aan."},
    };
    for (const auto& [input, expected] : cases) {
        ASSERT_TRUE(bad->sendText(input));
        EXPECT_EQ(answerOf(bad->receive()), expected) << input;
    }
    registerHost(*bad, "abc234");
    bad->send(proto::RegisterMessage{.passwordHash = std::string(64, 'b')});
    EXPECT_EQ(answerOf(bad->receive()), "Deze verbinding is al geregistreerd.");

    // A truncated frame is the peers' business: forwarded as it is.
    session.host->sendBinary("\x01\x01trunc");
    EXPECT_EQ(dataOf(session.viewer->receive()), "\x01\x01trunc");

    // Too large: that connection is closed, nothing else.
    session.viewer->sendBinary(std::string(70000, 'x'));
    EXPECT_TRUE(session.viewer->waitClosed());
    EXPECT_EQ(session.host->receiveType(), "viewer_disconnected");

    // A flood of garbage ends with the connection closed.
    auto flood = client(relay);
    for (int i = 0; i < 200 && flood->isOpen(); ++i)
        flood->sendText("{");
    EXPECT_TRUE(flood->waitClosed());

    auto viewer = client(relay);
    EXPECT_EQ(connectViewer(*viewer, session.id, "abc234"), "connected");
    EXPECT_EQ(session.host->receiveType(), "viewer_connected");
}

TEST(RelayLimits, SlowViewerLosesVideoNotControlAndOneThatCannotTakeControlIsClosed) {
    RelayProcess relay({"--video-queue-bytes", "262144", "--control-queue-bytes", "262144"});
    PairedSession s(relay);
    constexpr std::size_t kFrameBytes = 150 * 1024;
    constexpr std::uint32_t kFrames = 400; // 60 MB: far more than the socket buffers hold

    // The Viewer does not read while the Host streams.
    s.host->sendBinary(frame(0, true, kFrameBytes));
    for (std::uint32_t i = 1; i < kFrames; ++i) {
        ASSERT_TRUE(s.host->sendBinary(frame(i, false, kFrameBytes)));
        if (i == kFrames / 2)
            s.host->send(proto::ChatMessage{.sender = "host", .text = "midden", .timestamp = 1});
    }
    EXPECT_EQ(s.host->receiveType(), "request_keyframe");
    s.host->sendBinary(frame(kFrames, true, kFrameBytes));

    // Every gap in the sequence is followed by a keyframe; the chat arrived.
    std::uint32_t expected = 0, received = 0;
    bool chat = false;
    while (const auto m = s.viewer->receive(1s)) {
        if (!m->binary) {
            chat = chat || proto::ProtocolEncoder::decodeType(m->data) == "chat";
            continue;
        }
        const auto f = parsed(m->data);
        ASSERT_TRUE(f.has_value());
        if (f->sequenceNumber != expected) {
            EXPECT_TRUE(f->isKeyframe) << "frame " << f->sequenceNumber << " after a gap";
        }
        expected = f->sequenceNumber + 1;
        ++received;
    }
    EXPECT_TRUE(chat);
    EXPECT_LT(received, kFrames);
    EXPECT_EQ(expected, kFrames + 1) << "the keyframe sent on request was not delivered";

    // Caught up, the stream flows whole again (one frame at a time: two are
    // over the queue's budget).
    for (std::uint32_t sequence : {kFrames + 1, kFrames + 2}) {
        s.host->sendBinary(frame(sequence, sequence == kFrames + 1, kFrameBytes));
        const auto delivered = s.viewer->receive();
        ASSERT_TRUE(delivered.has_value()) << "frame " << sequence;
        EXPECT_EQ(parsed(delivered->data)->sequenceNumber, sequence);
    }

    // A Viewer that takes no control messages either is closed.
    PairedSession t(relay);
    const std::string text(32 * 1024, 'c');
    for (int i = 0; i < 2000; ++i) {
        if (!t.host->send(proto::ChatMessage{.sender = "host", .text = text, .timestamp = 1}))
            break;
    }
    EXPECT_EQ(t.host->receiveType(10s), "viewer_disconnected");
    EXPECT_LT(peakRssKiB(relay.pid()), 48 * 1024) << "relay memory grew with the backlog";
}
