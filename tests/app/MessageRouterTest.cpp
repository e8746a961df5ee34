#include "app/MessageRouter.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace velmarin {
namespace {

using transport::WebSocketMessage;

// The router's effects without a connection: pong answers go nowhere (the
// pairing test against the relay covers them).
class MessageRouterTest : public ::testing::Test {
protected:
    MessageRouterTest() {
        router.currentTimeMs = [this] { return now; };
    }

    void receive(const std::string& text) {
        router.handleMessage(WebSocketMessage::makeText(text));
    }

    transport::WebSocketManager webSocket{"wss://localhost:1"};
    ConnectionState state;
    CommandBus commands;
    MessageRouter router{webSocket, state, nullptr, commands};
    std::uint64_t now = 1'000'000;
};

// How each side's session starts and ends (and what the other side is told
// when its peer leaves) is the coordinator and desktop tests'; here: the
// latency and a lost connection.
TEST_F(MessageRouterTest, LatencyAndALostConnection) {
    receive(R"({"type":"pong","timestamp":999800})");
    EXPECT_EQ(state.latencyMs(), 200.0);
    // A time stamp ahead of our clock gives no sample.
    receive(R"({"type":"pong","timestamp":1000500})");
    receive(R"({"type":"pong","timestamp":-5})");
    EXPECT_EQ(state.latencyMs(), 200.0);

    int lost = 0;
    router.onDisconnect = [&] {
        ++lost;
        EXPECT_EQ(state.status().kind(), Status::Kind::error);
    };
    router.handleDisconnect(transport::WebSocketError::failed("de verbinding is onderbroken"));
    EXPECT_EQ(state.status(), Status::error("Verbinding verbroken: de verbinding is onderbroken"));
    EXPECT_EQ(lost, 1);
}

// A Host obeys input only while the relay has paired a Viewer with it, and a
// Viewer never obeys input at all; Host reports and video reach only a
// Viewer. The peer decides nothing about this side's role.
TEST_F(MessageRouterTest, InputReachesOnlyAPairedHostAndReportsOnlyAViewer) {
    std::map<std::string, int> calls;
    auto count = [&](const char* name) { return [&calls, name](auto&&...) { ++calls[name]; }; };
    router.onMouseEvent = count("mouse");
    router.onKeyEvent = count("key");
    router.onSpecialKeys = count("special_keys");
    router.onSelectMonitor = count("select_monitor");
    router.onMonitorList = count("monitor_list");
    router.onChatMessage = count("chat");
    router.onVideoFrame = count("video");

    // Each type once, as the peer would send it; video comes as binary.
    const std::map<std::string, std::string> valid = {
        {"mouse", R"({"type":"mouse","action":"move","x":0.5,"y":0.5,"button":0})"},
        {"key", R"({"type":"key","action":"down","keyCode":0,"flags":0})"},
        {"special_keys", R"({"type":"special_keys","combo":"ctrl_alt_del"})"},
        {"select_monitor", R"({"type":"select_monitor","monitorId":2})"},
        {"monitor_list", R"({"type":"monitor_list","monitors":[]})"},
        {"chat", R"({"type":"chat","sender":"viewer","text":"hoi","timestamp":1})"},
        {"video", ""},
    };
    const std::set<std::string> hostOnly = {"mouse", "key", "special_keys", "select_monitor"};
    const auto expectDelivered = [&](const auto& accepts, const char* role) {
        calls.clear();
        for (const auto& [type, text] : valid)
            router.handleMessage(text.empty()
                                     ? WebSocketMessage::makeBinary({'{', '"', 't', 0, 0xff})
                                     : WebSocketMessage::makeText(text));
        for (const auto& [type, text] : valid)
            EXPECT_EQ(calls[type], accepts(type) ? 1 : 0) << type << " as " << role;
    };
    const auto shared = [](const std::string& type) { return type == "chat"; };

    expectDelivered(shared, "nobody");
    router.setRole(MessageRouter::Role::viewer);
    expectDelivered([&](const std::string& t) { return !hostOnly.contains(t); }, "viewer");
    router.setRole(MessageRouter::Role::host);
    expectDelivered(shared, "unpaired host");
    receive(R"({"type":"viewer_connected"})");
    expectDelivered([](const std::string& t) { return t != "monitor_list" && t != "video"; },
                    "paired host");
    receive(R"({"type":"viewer_disconnected"})");
    expectDelivered(shared, "host after its viewer left");
    receive(R"({"type":"viewer_connected"})");
    router.setRole(MessageRouter::Role::host);
    expectDelivered(shared, "host on a new connection");
}

TEST(CommandBus, ArgumentsOfTheWrongTypeAreRefused) {
    const QVariantMap info{{"text", "hallo"}, {"monitorId", 2}, {"level", 5}};
    EXPECT_EQ(CommandBus::stringArgument(info, "text"), QString("hallo"));
    EXPECT_EQ(CommandBus::stringArgument(info, "level"), std::nullopt);
    EXPECT_EQ(CommandBus::stringArgument(info, "ontbreekt"), std::nullopt);
    EXPECT_EQ(CommandBus::integerArgument(info, "monitorId"), 2);
    EXPECT_EQ(CommandBus::integerArgument(info, "text"), std::nullopt);
    EXPECT_EQ(
        CommandBus::integerArgument({{"monitorId", QVariant(qulonglong(1) << 63)}}, "monitorId"),
        std::nullopt);
}

} // namespace
} // namespace velmarin
