// Host and Viewer coordinators against the real relay over TLS.

#include "app/CancellableSleep.h"
#include "protocol/CryptoHelper.h"
#include "support/app/CoordinatorHarness.h"
#include "support/relay/RelayTestClient.h"
#include "support/transport/Peer.h"
#include "transport/RelayEndpoint.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <map>

namespace velmarin::testing {
namespace {

using namespace std::chrono_literals;

class Coordinator : public ::testing::Test {
protected:
    RelayEnvironment env;

    // A Host that reached waitingForViewer; returns its ID.
    static QString registered(Side& host) {
        EXPECT_TRUE(waitUntil([&] { return host.status() == Status::Kind::waitingForViewer; }))
            << host.state.debugLog().toStdString();
        return host.state.localID();
    }

    // The Host registered again after the relay came back.
    static bool reconnected(Side& host) {
        const bool done = waitUntil(
            [&] {
                return host.state.debugLog().contains(QStringLiteral("Herverbonden met server")) &&
                       host.status() == Status::Kind::waitingForViewer;
            },
            20s);
        EXPECT_TRUE(done) << host.state.debugLog().toStdString();
        return done;
    }
};

TEST_F(Coordinator, ViewerConnectsThroughTheChallengeAfterAWrongPasswordAndIsGreeted) {
    Side host({});
    Side viewer({.withCapture = false});
    host.setup();
    viewer.setup();
    host.startHosting();
    const QString id = registered(host);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{9}$")).match(id).hasMatch())
        << id.toStdString();
    EXPECT_TRUE(host.state.debugLog().contains(QStringLiteral("ID ontvangen: ")));

    // A wrong password shows the relay's error; the failed attempt stays on
    // screen until stopped, and the Host keeps waiting.
    viewer.startViewing(id, QStringLiteral("guess1"));
    ASSERT_TRUE(waitUntil([&] { return viewer.status() == Status::Kind::error; }));
    EXPECT_EQ(viewer.state.status().displayText(), QStringLiteral("Fout: Onjuist wachtwoord."));
    EXPECT_TRUE(viewer.state.isViewing());
    EXPECT_EQ(host.status(), Status::Kind::waitingForViewer);
    viewer.commands.post(Command::stopViewing);
    ASSERT_TRUE(waitUntil([&] { return viewer.status() == Status::Kind::disconnected; }));

    viewer.startViewing(id, QStringLiteral("k7m2pq"));
    // The field changes once the challenge is in: the answer keeps the
    // password of this attempt.
    ASSERT_TRUE(waitUntil([&] {
        return viewer.status() == Status::Kind::authenticating ||
               viewer.status() == Status::Kind::connected;
    }));
    viewer.state.setRemotePassword(QStringLiteral("wrong"));
    ASSERT_TRUE(waitUntil([&] {
        return viewer.status() == Status::Kind::connected &&
               host.status() == Status::Kind::connected;
    })) << viewer.state.status().displayText().toStdString();

    // Greeting: screen size, monitors (the primary one selected), system
    // information, and a key frame that the Viewer's decoder can start from.
    ASSERT_TRUE(waitUntil([&] {
        return viewer.state.remoteSystemInfo().has_value() &&
               viewer.state.availableMonitors().size() == 2 &&
               viewer.coordinator->decodedFrameCount() >= 3;
    }));
    EXPECT_EQ(viewer.state.remoteScreenSize(), QSizeF(TestCapture::kWidth, TestCapture::kHeight));
    EXPECT_TRUE(waitUntil([&] {
        return viewer.coordinator->hostScreenSize() ==
               QSizeF(TestCapture::kWidth, TestCapture::kHeight);
    }));
    EXPECT_EQ(viewer.state.selectedMonitorId(), 7);
    EXPECT_GE(host.capture->keyframeRequests.load(), 1);
    EXPECT_FALSE(viewer.state.remoteSystemInfo()->deviceName.empty());
    EXPECT_TRUE(host.state.debugLog().contains(QStringLiteral("Viewer verbonden!")));

    // Another monitor: the Host switches and is asked for a key frame.
    const int keyframesBefore = host.capture->keyframeRequests.load();
    viewer.commands.post(Command::selectMonitor, {{QStringLiteral("monitorId"), 8}});
    EXPECT_TRUE(waitUntil([&] {
        return host.capture->selectedMonitor.load() == 8 &&
               host.capture->keyframeRequests.load() >= keyframesBefore + 2;
    }));

    // Quality: unknown levels change nothing; a fixed one reaches the capture.
    viewer.commands.post(Command::sendQualitySetting, {{QStringLiteral("level"), "ultra"}});
    viewer.commands.post(Command::sendQualitySetting, {{QStringLiteral("level"), "low"}});
    EXPECT_TRUE(waitUntil([&] { return host.capture->bitrate.load() == 1'000'000; }));
    EXPECT_EQ(host.capture->fps.load(), 24);

    // Special keys: only ctrl-alt-del is injected, as a down and an up.
    viewer.coordinator->sendSpecialKeys(QStringLiteral("alt_f4"));
    viewer.coordinator->sendSpecialKeys(QStringLiteral("ctrl_alt_del"));
    ASSERT_TRUE(waitUntil([&] { return host.injectedKeys.size() >= 2; }));
    pumpFor(200ms);
    EXPECT_EQ(host.injectedKeys, (std::vector<protocol::KeyEventMessage>{
                                     {.action = "down", .keyCode = 117, .flags = 0xC0000},
                                     {.action = "up", .keyCode = 117, .flags = 0xC0000}}));

    // Chat goes both ways and counts as unread while the panel is closed.
    viewer.commands.post(Command::sendChat, {{QStringLiteral("text"), QStringLiteral("hallo")}});
    viewer.commands.post(Command::sendChat, {{QStringLiteral("text"), QString()}});
    ASSERT_TRUE(waitUntil([&] { return host.state.chatMessages().size() == 1; }));
    EXPECT_EQ(host.state.chatMessages().front().sender, "viewer");
    EXPECT_EQ(host.state.unreadChatCount(), 1);
    EXPECT_EQ(viewer.state.chatMessages().size(), 1);

    // The Viewer leaves: a Host without fixed credentials stops and gets a
    // new password and no ID.
    const QString oldPassword = host.state.localPassword();
    viewer.commands.post(Command::stopViewing);
    ASSERT_TRUE(waitUntil([&] {
        return viewer.status() == Status::Kind::disconnected &&
               host.status() == Status::Kind::disconnected;
    }));
    EXPECT_FALSE(viewer.state.isViewing());
    EXPECT_FALSE(viewer.state.remoteSystemInfo().has_value());
    EXPECT_EQ(host.state.disconnectMessage(),
              QStringLiteral("Viewer heeft de verbinding verbroken."));
    EXPECT_EQ(host.modifierReleases, 1);
    EXPECT_FALSE(host.state.isSharing());
    EXPECT_TRUE(host.state.localID().isEmpty());
    EXPECT_EQ(host.state.localPassword().size(), 6);
    EXPECT_NE(host.state.localPassword(), oldPassword);
    EXPECT_FALSE(host.coordinator->hasCapture());
    EXPECT_EQ(host.capture->stopped.load(), 1);
}

TEST_F(Coordinator, HostWithoutCaptureFailsBeforeConnectingAndAnUnreachableRelayIsReportedOnce) {
    Side noCapture({.withCapture = false});
    noCapture.setup();
    noCapture.startHosting();
    ASSERT_TRUE(waitUntil([&] { return noCapture.status() == Status::Kind::error; }));
    EXPECT_EQ(noCapture.state.status(),
              Status::error(HostSession::kCaptureUnavailable, Status::Reason::captureUnavailable));
    EXPECT_FALSE(noCapture.state.isSharing());
    pumpFor(300ms);
    EXPECT_FALSE(noCapture.coordinator->webSocket().isConnected());
    EXPECT_FALSE(noCapture.state.debugLog().contains(QStringLiteral("Verbinden met")));

    Side viewer({.withCapture = false});
    viewer.setup();
    env.relay.stop();
    viewer.startViewing(QStringLiteral("123456789"), QStringLiteral("abcdef"));
    ASSERT_TRUE(waitUntil([&] { return viewer.status() == Status::Kind::error; }));
    const QString text = viewer.state.status().text();
    EXPECT_TRUE(text.startsWith(QStringLiteral("Verbinding mislukt: "))) << text.toStdString();
    EXPECT_EQ(text.count(QStringLiteral("Verbinding mislukt")), 1) << text.toStdString();

    // A Host that nobody will retry for does not keep capturing unseen.
    Side host({});
    host.setup();
    host.startHosting();
    ASSERT_TRUE(waitUntil([&] { return host.status() == Status::Kind::error; }));
    EXPECT_TRUE(host.state.debugLog().contains(QStringLiteral("FOUT: Verbinding mislukt: ")));
    EXPECT_FALSE(host.state.isSharing());
    EXPECT_TRUE(waitUntil([&] { return host.capture->stopped.load() == 1; }));
    EXPECT_FALSE(host.coordinator->hasCapture());
    EXPECT_FALSE(host.coordinator->isReconnecting());
}

// A Viewer on a connection of its own, paired with the fixed Host `id`:
// stays for `stay` while the Host's event loop runs, then leaves. Returns
// how many text messages of each type it received.
std::map<std::string, int> visit(const QString& id, std::chrono::milliseconds stay) {
    Peer viewer(transport::relayURL());
    std::map<std::string, int> types;
    EXPECT_TRUE(viewer.connect() && pairPeer(viewer, id.toStdString(), "vast12"));
    pumpFor(stay);
    while (const auto message = viewer.next(0ms)) {
        if (message->isText())
            ++types[protocol::ProtocolEncoder::decodeType(message->text).value_or("?")];
    }
    viewer.send(protocol::DisconnectMessage{});
    return types;
}

TEST_F(Coordinator,
       UnattendedHostNeedsAFixedPasswordReportsAndAsksForItsIdAgainAfterRelayRestarts) {
    Side withoutPassword({.fixedCredentials = true, .autoStart = true});
    withoutPassword.setup();
    pumpFor(300ms);
    EXPECT_EQ(withoutPassword.status(), Status::Kind::disconnected);
    EXPECT_FALSE(withoutPassword.state.isSharing());
    EXPECT_EQ(withoutPassword.capture->started.load(), 0);

    // Someone else holds the Host's fixed ID when it starts: it gets another
    // for now and keeps its own.
    const std::string fixedID = "712345678";
    RelayTestClient other(env.relay.port(), env.relay.caFile());
    other.send(protocol::RegisterMessage{
        .passwordHash = protocol::CryptoHelper::sha256hex("anders"), .requestedId = fixedID});
    ASSERT_EQ(other.receiveAs<protocol::RegisteredMessage>()->id, fixedID);
    Side host({.fixedCredentials = true, .autoStart = true, .fixedPassword = "vast12"});
    host.settings->setFixedID(QString::fromStdString(fixedID));
    host.setup();
    EXPECT_TRUE(host.state.isSharing());
    EXPECT_EQ(host.state.localPassword(), QStringLiteral("vast12"));
    const QString standIn = registered(host);
    EXPECT_NE(standIn.toStdString(), fixedID);
    EXPECT_EQ(host.settings->fixedID().toStdString(), fixedID);
    EXPECT_TRUE(host.state.debugLog().contains(
        QStringLiteral("Vast ID 712345678 geweigerd door de server; dit keer ID ")));

    // 3.5 intervals of 1 s: reports at 0, 1, 2 and 3 s.
    auto received = visit(standIn, 3500ms);
    EXPECT_GE(received["system_info"], 2); // about one a second, also when busy
    EXPECT_LE(received["system_info"], 5);
    EXPECT_EQ(received["monitor_list"], 1);
    // Gone: no more reports (the relay would answer one with an error), and
    // the Host waits for the next Viewer with the same credentials.
    ASSERT_TRUE(waitUntil([&] { return host.status() == Status::Kind::waitingForViewer; }));
    EXPECT_FALSE(host.coordinator->isSendingSystemInfo());
    pumpFor(2500ms);
    EXPECT_EQ(host.status(), Status::Kind::waitingForViewer)
        << host.state.status().displayText().toStdString();
    EXPECT_EQ(host.modifierReleases, 1);

    // The relay restarts (forgetting who had the ID): the Host reconnects by
    // itself and asks for its ID again.
    other.close();
    env.relay.restart();
    ASSERT_TRUE(
        waitUntil([&] { return host.state.status().text() == HostSession::kReconnecting; }));
    ASSERT_TRUE(reconnected(host));
    const QString id = host.state.localID();
    EXPECT_EQ(id.toStdString(), fixedID);
    EXPECT_TRUE(host.state.isSharing());

    EXPECT_GE(visit(id, 1500ms)["system_info"], 1);

    // The relay dies while a Viewer is there, without a word to either
    // side: the keys the Viewer held are let go all the same.
    ASSERT_TRUE(waitUntil([&] { return host.modifierReleases == 2; })) << "the last Viewer left";
    {
        Peer held(transport::relayURL());
        ASSERT_TRUE(held.connect() && pairPeer(held, id.toStdString(), "vast12"));
        ASSERT_TRUE(waitUntil([&] { return host.status() == Status::Kind::connected; }));
        env.relay.restart(SIGKILL);
        EXPECT_TRUE(waitUntil([&] { return host.modifierReleases == 3; }));
    }

    // Stopping keeps fixed credentials.
    host.commands.post(Command::stopHosting);
    ASSERT_TRUE(waitUntil([&] { return host.status() == Status::Kind::disconnected; }));
    EXPECT_EQ(host.state.localID(), id);
    EXPECT_EQ(host.state.localPassword(), QStringLiteral("vast12"));
    EXPECT_FALSE(host.coordinator->isReconnecting());
}

TEST_F(Coordinator, NothingHappensOnceTheCoordinatorIsGone) {
    // Gone in the middle of a start (waiting for the relay), with commands
    // still queued and others posted afterwards.
    Side host({});
    host.setup();
    host.startHosting();
    ASSERT_TRUE(waitUntil([&] { return host.status() == Status::Kind::registering; }));
    host.commands.post(Command::sendChat, {{QStringLiteral("text"), QStringLiteral("hoi")}});
    host.coordinator.reset();
    host.commands.post(Command::stopHosting);
    host.commands.post(Command::startViewing);
    pumpFor(500ms);
    EXPECT_EQ(host.status(), Status::Kind::registering);
    EXPECT_TRUE(host.state.chatMessages().isEmpty());
}

TEST_F(Coordinator, UnattendedHostRetriesAFailedStartAndGivesUpAfterTenAttempts) {
    env.relay.stop();
    {
        Side host({.fixedCredentials = true, .autoStart = true, .fixedPassword = "vast12"});
        host.setup();
        ASSERT_TRUE(waitUntil([&] {
            return host.state.debugLog().contains(QStringLiteral("Herverbinden poging mislukt: "));
        }));
        EXPECT_FALSE(host.state.isSharing());
        EXPECT_TRUE(host.state.debugLog().contains(QStringLiteral("FOUT: Verbinding mislukt: ")));
        env.relay.restart();
        ASSERT_TRUE(reconnected(host));
        EXPECT_TRUE(host.state.isSharing());
        EXPECT_EQ(host.settings->fixedID(), host.state.localID()) << "kept for the next start";
    }

    env.relay.stop();
    CoordinatorOptions hurried = Side::fastOptions();
    hurried.reconnectSleeper = [](std::chrono::nanoseconds delay, std::stop_token stop) {
        return sleepFor(delay / 100, std::move(stop));
    };
    Side host({.fixedCredentials = true,
               .autoStart = true,
               .fixedPassword = "vast12",
               .options = hurried});
    host.setup();
    ASSERT_TRUE(
        waitUntil([&] { return host.state.status().text() == HostSession::kReconnectGaveUp; }, 20s))
        << host.state.debugLog().toStdString();
    EXPECT_EQ(host.state.debugLog().count(QStringLiteral("Herverbinden poging mislukt: ")), 10);
    EXPECT_FALSE(host.coordinator->isReconnecting());
    // Capture keeps running until the user stops sharing.
    EXPECT_TRUE(host.coordinator->hasCapture());
    host.commands.post(Command::stopHosting);
    ASSERT_TRUE(waitUntil([&] { return host.status() == Status::Kind::disconnected; }));
    EXPECT_EQ(host.capture->stopped.load(), 1);
}

} // namespace
} // namespace velmarin::testing
