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

// What the router does with each message is MessageRouterTest's and the
// coordinator's; here, over a real connection: a paired Host answers a
// Viewer's ping exactly once, and a peer that sends faster than the GUI
// thread handles is held back by TCP: what waits for the GUI thread stays
// bounded, and nothing is lost. Then presence on the same relay (last, as
// it restarts the relay).
TEST(RelayIntegration, PairedHostAnswersPingsOnceHoldsBackAFloodAndPresenceReportsDevices) {
    // Room for the flood below between the relay's two sides.
    testing::RelayProcess relay{{"--control-queue-bytes", "536870912"}};
    ::setenv("VELMARIN_RELAY_HOST", relay.hostPort().c_str(), 1);
    ::setenv("VELMARIN_RELAY_CA", relay.caFile().c_str(), 1);
    // This process as a Host on the relay, its messages through a router.
    WebSocketManager webSocket{transport::relayURL(), qtLogSink()};
    ConnectionState state;
    CommandBus commands;
    MessageRouter router{webSocket, state, nullptr, commands};
    int chats = 0;
    router.onChatMessage = [&](const ChatMessage&) { ++chats; };
    // The GUI thread awaits the transport without blocking its loop.
    const auto early = QCoro::waitFor(awaitSendText(webSocket, "{}"));
    ASSERT_FALSE(early);
    EXPECT_EQ(early.error().kind(), WebSocketError::Kind::notConnected);
    ASSERT_TRUE(QCoro::waitFor(awaitConnect(webSocket)));
    router.setRole(MessageRouter::Role::host);
    router.startRouting();
    ASSERT_TRUE(QCoro::waitFor(
        awaitSendText(webSocket, *ProtocolEncoder::encode(RegisterMessage{
                                     .passwordHash = CryptoHelper::sha256hex("abc234")}))));
    ASSERT_TRUE(waitUntil([&] { return state.status() == Status::waitingForViewer(); }));
    Peer viewer(transport::relayURL());
    ASSERT_TRUE(viewer.connect() && pairPeer(viewer, state.localID().toStdString(), "abc234"));
    ASSERT_TRUE(waitUntil([&] { return state.status() == Status::connected(); }));

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
    EXPECT_LE(router.backlogBytes(), ReceiveBacklog::kLimit + (2 << 20));
    EXPECT_GE(router.backlogBytes(), ReceiveBacklog::kLimit / 2) << "the flood did not arrive";
    EXPECT_TRUE(waitUntil([&] { return chats == kMessages; }, 60s)) << chats;
    flood.join();

    // Presence: online, busy and unknown devices.
    Peer idleHost(transport::relayURL());
    Peer busyHost(transport::relayURL());
    Peer busyViewer(transport::relayURL());
    ASSERT_TRUE(idleHost.connect() && busyHost.connect() && busyViewer.connect());
    const std::string online = registerPeer(idleHost, "abc234");
    const std::string busy = registerPeer(busyHost, "abc234");
    ASSERT_TRUE(pairPeer(busyViewer, busy, "abc234"));
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
