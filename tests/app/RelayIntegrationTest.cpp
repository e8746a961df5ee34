#include "app/MessageRouter.h"
#include "app/PresenceManager.h"
#include "app/QtLogSink.h"
#include "app/WebSocketAwait.h"
#include "protocol/CryptoHelper.h"
#include "support/WaitUntil.h"
#include "support/relay/RelayProcess.h"
#include "support/transport/Peer.h"
#include "transport/RelayEndpoint.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace velmarin {
namespace {

using namespace std::chrono_literals;
using namespace protocol;
using testing::Peer;
using testing::waitUntil;

class RelayIntegrationTest : public ::testing::Test {
protected:
    RelayIntegrationTest() {
        ::setenv("VELMARIN_RELAY_HOST", relay.hostPort().c_str(), 1);
        ::setenv("VELMARIN_RELAY_CA", relay.caFile().c_str(), 1);
    }

    // A Host connection registered with the relay; returns its ID.
    static std::string registerHost(Peer& host) {
        EXPECT_TRUE(host.connect());
        return registerPeer(host, "abc234");
    }
    static void pairViewer(Peer& viewer, const std::string& hostID) {
        ASSERT_TRUE(viewer.connect());
        ASSERT_TRUE(pairPeer(viewer, hostID, "abc234"));
    }

    // This process as a Host on the relay, its messages through a router.
    struct RoutedHost {
        WebSocketManager webSocket{transport::relayURL(), qtLogSink()};
        ConnectionState state;
        CommandBus commands;
        MessageRouter router{webSocket, state, nullptr, commands};
    };

    static void registerAndPair(RoutedHost& host, Peer& viewer) {
        ASSERT_TRUE(QCoro::waitFor(awaitConnect(host.webSocket)));
        host.router.setRole(MessageRouter::Role::host);
        host.router.startRouting();
        ASSERT_TRUE(QCoro::waitFor(awaitSendText(
            host.webSocket, *ProtocolEncoder::encode(RegisterMessage{
                                .passwordHash = CryptoHelper::sha256hex("abc234")}))));
        ASSERT_TRUE(waitUntil([&] { return host.state.status() == Status::waitingForViewer(); }));
        pairViewer(viewer, host.state.localID().toStdString());
        ASSERT_TRUE(waitUntil([&] { return host.state.status() == Status::connected(); }));
    }

    // Room for the flood below between the relay's two sides.
    testing::RelayProcess relay{{"--control-queue-bytes", "536870912"}};
};

// What the router does with each message is MessageRouterTest's and the
// coordinator's; here, over a real connection: a paired Host answers a
// Viewer's ping exactly once, and a peer that sends faster than the GUI
// thread handles is held back by TCP: what waits for the GUI thread stays
// bounded, and nothing is lost.
TEST_F(RelayIntegrationTest, PairedHostAnswersPingsOnceAndAFloodingPeerIsHeldBackWithoutLoss) {
    RoutedHost host;
    int chats = 0;
    host.router.onChatMessage = [&](const ChatMessage&) { ++chats; };
    // The GUI thread awaits the transport without blocking its loop.
    const auto early = QCoro::waitFor(awaitSendText(host.webSocket, "{}"));
    ASSERT_FALSE(early);
    EXPECT_EQ(early.error().kind(), WebSocketError::Kind::notConnected);
    Peer viewer(transport::relayURL());
    registerAndPair(host, viewer);

    viewer.send(PingMessage{.timestamp = 5});
    std::optional<PongMessage> pong;
    ASSERT_TRUE(waitUntil([&] { return (pong = viewer.nextOf<PongMessage>(10ms)).has_value(); }));
    EXPECT_EQ(pong->timestamp, 5u);
    EXPECT_FALSE(viewer.next(300ms)) << "exactly one answer";

    constexpr int kMessages = 160; // of 1 MiB: two and a half times the limit
    std::thread flood([&] {
        for (int i = 0; i < kMessages; ++i)
            viewer.send(ChatMessage{.sender = "viewer", .text = std::string(1 << 20, 'x')});
    });
    // The GUI thread is busy elsewhere meanwhile.
    std::this_thread::sleep_for(3s);
    EXPECT_LE(host.router.backlogBytes(), ReceiveBacklog::kLimit + (2 << 20));
    EXPECT_GE(host.router.backlogBytes(), ReceiveBacklog::kLimit / 2) << "the flood did not arrive";
    EXPECT_TRUE(waitUntil([&] { return chats == kMessages; }, 60s)) << chats;
    flood.join();
}

TEST_F(RelayIntegrationTest, PresenceReportsOnlineBusyAndUnknownDevicesAndNeedsSome) {
    Peer idleHost(transport::relayURL());
    const std::string online = registerHost(idleHost);
    Peer busyHost(transport::relayURL());
    const std::string busy = registerHost(busyHost);
    Peer viewer(transport::relayURL());
    pairViewer(viewer, busy);
    const QString unknown = "000000001";

    PresenceManager presence(transport::relayURL(), 200ms);
    int answers = 0;
    QObject::connect(&presence, &PresenceManager::statusesChanged, [&] { ++answers; });
    const QStringList ids{QString::fromStdString(online), QString::fromStdString(busy), unknown};
    presence.start(ids);
    presence.start(ids); // no second loop
    ASSERT_TRUE(waitUntil([&] { return answers >= 1; }));
    const QMap<QString, velmarin::DeviceStatus> expected{
        {ids[0], velmarin::DeviceStatus::online},
        {ids[1], velmarin::DeviceStatus::busy},
        {unknown, velmarin::DeviceStatus::offline}};
    EXPECT_EQ(presence.statuses(), expected);

    // A new list is used by the next poll; answers cover exactly that list.
    presence.start({ids[0]});
    ASSERT_TRUE(waitUntil([&] { return presence.statuses().size() == 1; }));
    EXPECT_EQ(presence.statuses().value(ids[0]), velmarin::DeviceStatus::online);

    // A relay that went away and came back: the next poll reconnects.
    relay.restart();
    ASSERT_TRUE(waitUntil(
        [&] { return presence.statuses().value(ids[0]) == velmarin::DeviceStatus::offline; }, 15s));

    presence.stop();
    EXPECT_TRUE(presence.statuses().isEmpty());
    EXPECT_FALSE(presence.isRunning());
    EXPECT_FALSE(presence.webSocket().isConnected());

    // No devices: no connection. Started again with one: a fresh loop and
    // connection, empty until the first answer.
    presence.start({});
    EXPECT_FALSE(waitUntil([&] { return presence.webSocket().isConnected(); }, 500ms));
    presence.stop();
    presence.start({"000000002"});
    EXPECT_TRUE(presence.statuses().isEmpty());
    ASSERT_TRUE(waitUntil([&] { return !presence.statuses().isEmpty(); }));
    EXPECT_EQ(presence.statuses().value("000000002"), velmarin::DeviceStatus::offline);
    EXPECT_TRUE(presence.webSocket().isConnected());
}

} // namespace
} // namespace velmarin
