#include "protocol/ProtocolEncoder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace velmarin::protocol {
namespace {

using ProtocolEncoder::decode;
using ProtocolEncoder::decodeType;
using ProtocolEncoder::encode;

template <class M> std::string encoded(const M& message) {
    const auto text = encode(message);
    EXPECT_TRUE(text.has_value()) << M::kType;
    return text.value_or("");
}

// `message` is encoded to exactly the bytes `wire` a peer sees, and `wire`
// decodes back to it; without any one key that is not optional, or with it
// null, the whole decode fails.
template <class M> void pinned(const M& message, const std::string& wire) {
    SCOPED_TRACE(wire);
    EXPECT_EQ(encoded(message), wire);
    EXPECT_EQ(decodeType(wire), std::string(M::kType));
    EXPECT_EQ(decode<M>(wire), message);
    const nlohmann::json full = nlohmann::json::parse(wire);
    const nlohmann::json bare = nlohmann::json::parse(encoded(M{}));
    for (const auto& [key, value] : full.items()) {
        nlohmann::json reduced = full;
        reduced.erase(key);
        const bool optional = !bare.contains(key);
        EXPECT_EQ(decode<M>(reduced.dump()).has_value(), optional) << key;
        reduced[key] = nullptr;
        EXPECT_EQ(decode<M>(reduced.dump()).has_value(), optional) << key;
    }
}

TEST(ProtocolEncoder, SessionMessagesHavePinnedBytes) {
    pinned(RegisterMessage{.passwordHash = "ab"},
           R"({"type":"register","role":"host","passwordHash":"ab"})");
    pinned(RegisterMessage{.passwordHash = "ab", .requestedId = "123456789"},
           R"({"type":"register","role":"host","passwordHash":"ab","requestedId":"123456789"})");
    pinned(RegisteredMessage{"987654321"}, R"({"type":"registered","id":"987654321"})");
    pinned(ConnectMessage{"111222333"}, R"({"type":"connect","targetId":"111222333"})");
    pinned(ChallengeMessage{"n1"}, R"({"type":"challenge","nonce":"n1"})");
    pinned(ChallengeResponseMessage{"r"}, R"({"type":"challenge_response","response":"r"})");
    pinned(ConnectedMessage{}, R"({"type":"connected"})");
    pinned(ViewerConnectedMessage{}, R"({"type":"viewer_connected"})");
    pinned(HostDisconnectedMessage{}, R"({"type":"host_disconnected"})");
    pinned(ViewerDisconnectedMessage{}, R"({"type":"viewer_disconnected"})");
    pinned(DisconnectMessage{}, R"({"type":"disconnect"})");
    pinned(ErrorMessage{"Onbekend ID"}, R"({"type":"error","message":"Onbekend ID"})");
    pinned(PingMessage{18446744073709551615ULL},
           R"({"type":"ping","timestamp":18446744073709551615})");
    pinned(PongMessage{1500}, R"({"type":"pong","timestamp":1500})");
    pinned(PresenceMessage{{"123456789", "987654321"}},
           R"({"type":"presence","ids":["123456789","987654321"]})");
    pinned(PresenceResultMessage{{{"123456789", "online"}, {"2", "busy"}}},
           R"({"type":"presence_result","statuses":{"123456789":"online","2":"busy"}})");
}

TEST(ProtocolEncoder, InputAndDisplayMessagesHavePinnedBytes) {
    pinned(MouseEventMessage{.action = "move", .x = 0.25, .y = 0.5, .button = 0},
           R"({"type":"mouse","action":"move","x":0.25,"y":0.5,"button":0})");
    pinned(MouseEventMessage{.action = "scroll",
                             .x = 0.5,
                             .y = 0.5,
                             .button = 0,
                             .scrollDeltaX = 0.0,
                             .scrollDeltaY = -3.5,
                             .clickCount = 3},
           R"({"type":"mouse","action":"scroll","x":0.5,"y":0.5,"button":0,)"
           R"("scrollDeltaX":0.0,"scrollDeltaY":-3.5,"clickCount":3})");
    pinned(MouseEventMessage{.action = "leftDown", .x = 1, .y = 0, .button = 0, .clickCount = 2},
           R"({"type":"mouse","action":"leftDown","x":1.0,"y":0.0,"button":0,"clickCount":2})");
    pinned(KeyEventMessage{.action = "down", .keyCode = 65535, .flags = 0x40101},
           R"({"type":"key","action":"down","keyCode":65535,"flags":262401})");
    pinned(KeyEventMessage{.action = "up", .characters = "a\"\\\n\u00e9\xF0\x9F\x98\x80"},
           "{\"type\":\"key\",\"action\":\"up\",\"keyCode\":0,\"flags\":0,"
           "\"characters\":\"a\\\"\\\\\\n\u00e9\xF0\x9F\x98\x80\"}");
    pinned(SpecialKeysMessage{"ctrl_alt_del"}, R"({"type":"special_keys","combo":"ctrl_alt_del"})");
    pinned(ScreenInfoMessage{1920, 1080, 2},
           R"({"type":"screen_info","width":1920,"height":1080,"scaleFactor":2.0})");
    pinned(MonitorListMessage{}, R"({"type":"monitor_list","monitors":[]})");
    pinned(MonitorListMessage{{{7, "DP-1 (2560×1440)", 2560, 1440, -2560, 0, true},
                               {2, "B", 1280, 1024, 0, -100, false}}},
           R"j({"type":"monitor_list","monitors":[{"id":7,"name":"DP-1 (2560×1440)",)j"
           R"j("width":2560,"height":1440,"x":-2560,"y":0,"primary":true},{"id":2,"name":"B",)j"
           R"j("width":1280,"height":1024,"x":0,"y":-100,"primary":false}]})j");
    pinned(SelectMonitorMessage{3}, R"({"type":"select_monitor","monitorId":3})");
    pinned(RequestKeyframeMessage{}, R"({"type":"request_keyframe"})");
    pinned(QualitySettingMessage{"very_low"}, R"({"type":"quality_setting","level":"very_low"})");
    pinned(SystemInfoMessage{"werkplek", "Debian GNU/Linux", "12", "x86_64", "AMD EPYC", 2, 37.5,
                             8'000'000'000, 25'000'000'000, 1LL << 40, 1LL << 41, 86'400},
           R"({"type":"system_info","deviceName":"werkplek","operatingSystem":"Debian GNU/Linux",)"
           R"("osVersion":"12","architecture":"x86_64","processorName":"AMD EPYC",)"
           R"("logicalProcessorCount":2,"cpuUsagePercent":37.5,"memoryUsedBytes":8000000000,)"
           R"("memoryTotalBytes":25000000000,"diskUsedBytes":1099511627776,)"
           R"("diskTotalBytes":2199023255552,"uptimeSeconds":86400})");
}

TEST(ProtocolEncoder, CollaborationMessagesHavePinnedBytes) {
    // A chat's time stamp is wall-clock milliseconds.
    const auto at = std::chrono::system_clock::time_point(std::chrono::milliseconds(1500)) +
                    std::chrono::microseconds(900);
    pinned(ChatMessage::make("viewer", "Hallo", at),
           R"({"type":"chat","sender":"viewer","text":"Hallo","timestamp":1500})");
    pinned(ClipboardMessage{"regel 1\nregel 2", "deadbeef"},
           R"({"type":"clipboard","content":"regel 1\nregel 2","clipId":"deadbeef"})");
    pinned(DrawMessage{"pen", "a1b2c3d4", {{0.1, 0.2}, {0.3, 0.4}}, "#FF3B30", false},
           R"({"type":"draw","tool":"pen","strokeId":"a1b2c3d4","points":[{"x":0.1,"y":0.2},)"
           R"({"x":0.3,"y":0.4}],"color":"#FF3B30","ended":false})");
    pinned(DrawClearMessage{}, R"({"type":"draw_clear"})");
    pinned(SpotlightMessage{0.5, 0.5, 0.1, true},
           R"({"type":"spotlight","x":0.5,"y":0.5,"radius":0.1,"active":true})");
    pinned(FileOfferMessage{"0a1b2c3d", "rapport.pdf", 10'485'760, 160, "viewer"},
           R"({"type":"file_offer","transferId":"0a1b2c3d","fileName":"rapport.pdf",)"
           R"("fileSize":10485760,"totalChunks":160,"sender":"viewer"})");
    pinned(FileAcceptMessage{"0a1b2c3d"}, R"({"type":"file_accept","transferId":"0a1b2c3d"})");
    pinned(FileRejectMessage{"0a1b2c3d"}, R"({"type":"file_reject","transferId":"0a1b2c3d"})");
    pinned(FileChunkMessage{"0a1b2c3d", 4, "AAE="},
           R"({"type":"file_chunk","transferId":"0a1b2c3d","chunkIndex":4,"data":"AAE="})");
    pinned(FileAckMessage{"0a1b2c3d", 159},
           R"({"type":"file_ack","transferId":"0a1b2c3d","chunkIndex":159})");
    pinned(FileCancelMessage{"0a1b2c3d"}, R"({"type":"file_cancel","transferId":"0a1b2c3d"})");
    pinned(FileCompleteMessage{"0a1b2c3d"}, R"({"type":"file_complete","transferId":"0a1b2c3d"})");
}

TEST(ProtocolEncoder, UnknownKeysAreIgnoredAndNullMeansAbsent) {
    EXPECT_EQ(
        decode<RegisteredMessage>(R"({"type":"registered","id":"123456789","motd":{"x":[1]}})"),
        RegisteredMessage{"123456789"});
    EXPECT_EQ(decode<MouseEventMessage>(R"({"type":"mouse","action":"leftDown","x":0.5,"y":0.5,)"
                                        R"("button":0,"clickCount":null})"),
              (MouseEventMessage{.action = "leftDown", .x = 0.5, .y = 0.5}));
}

TEST(ProtocolEncoder, DecodeTypeNeedsAnObjectWithAStringTypeAndRefusesHostileInput) {
    EXPECT_EQ(decodeType(R"({"type":"ping","timestamp":1})"), "ping");
    EXPECT_EQ(decodeType(R"({"extra":1,"type":"x"})"), "x");
    // Brackets inside strings are not nesting.
    EXPECT_EQ(decodeType(R"({"type":"chat","text":")" + std::string(100, '[') + R"("})"), "chat");
    // Also too deep, invalid UTF-8 inside a string, and a NUL byte.
    for (const std::string& bad :
         {std::string(R"({"type":5})"), std::string(R"({"type":null})"), std::string("hallo"),
          std::string(R"(["type","ping"])"), std::string(), std::string(R"({"type":"ping"} x)"),
          std::string(100'000, '['), std::string(20, '{'),
          R"({"type":"x","a":)" + std::string(40, '[') + std::string(40, ']') + "}",
          std::string("{\"type\":\"\xC3\x28\"}"), std::string("{\"type\":\"ping\"\0}", 17)})
        EXPECT_FALSE(decodeType(bad)) << bad.substr(0, 80);
    // A lone surrogate escape.
    EXPECT_FALSE(decode<ChatMessage>(
        "{\"type\":\"chat\",\"sender\":\"host\",\"text\":\"\\ud800\",\"timestamp\":1}"));
}

TEST(ProtocolEncoder, IntegersAreRangeCheckedPerField) {
    const auto key = [](const std::string& code) {
        return decode<KeyEventMessage>(R"({"type":"key","action":"down","keyCode":)" + code +
                                       R"(,"flags":0})");
    };
    EXPECT_EQ(key("65535")->keyCode, 65535);
    EXPECT_EQ(key("12.0")->keyCode, 12); // integral value written with a fraction
    for (const char* bad : {"65536", "70000", "-1", "1.5", "\"12\"", "true"})
        EXPECT_FALSE(key(bad)) << bad;

    const auto ping = [](const std::string& ts) {
        return decode<PingMessage>(R"({"type":"ping","timestamp":)" + ts + "}");
    };
    EXPECT_EQ(ping("18446744073709551615")->timestamp, 18446744073709551615ULL);
    for (const char* bad : {"18446744073709551616", "-1", "1e300"})
        EXPECT_FALSE(ping(bad)) << bad;

    const auto select = [](const std::string& id) {
        return decode<SelectMonitorMessage>(R"({"type":"select_monitor","monitorId":)" + id + "}");
    };
    EXPECT_EQ(select("-9223372036854775808")->monitorId, INT64_MIN);
    EXPECT_FALSE(select("9223372036854775808"));
    EXPECT_FALSE(select("9.3e18"));
}

TEST(ProtocolEncoder, WrongJsonTypesFailTheWholeMessage) {
    EXPECT_FALSE(
        decode<SpotlightMessage>(R"({"type":"spotlight","x":0,"y":0,"radius":1,"active":1})"));
    EXPECT_FALSE(
        decode<MouseEventMessage>(R"({"type":"mouse","action":"move","x":"0","y":0,"button":0})"));
    EXPECT_FALSE(decode<PresenceResultMessage>(R"({"type":"presence_result","statuses":{"1":2}})"));
    EXPECT_FALSE(decode<PresenceMessage>(R"({"type":"presence","ids":["1",2]})"));
    EXPECT_FALSE(decode<RegisteredMessage>(R"({"type":"registered","id":123456789})"));
    EXPECT_FALSE(decode<MonitorListMessage>(R"({"type":"monitor_list","monitors":[{"id":1}]})"));
    EXPECT_FALSE(decode<DrawMessage>(
        R"({"type":"draw","tool":"pen","strokeId":"a","points":{},"color":"#000000","ended":true})"));
    EXPECT_FALSE(decode<SpotlightMessage>(
        R"({"type":"spotlight","x":1e400,"y":0,"radius":1,"active":true})"));
    // Integers are fine where a Double is expected.
    const auto spot =
        decode<SpotlightMessage>(R"({"type":"spotlight","x":1,"y":0,"radius":2,"active":true})");
    ASSERT_TRUE(spot);
    EXPECT_EQ(spot->radius, 2.0);
}

TEST(ProtocolEncoder, UnencodableRecordsYieldNothing) {
    EXPECT_FALSE(encode(ChatMessage{"host", "\xFF\xFE", 1}));
    EXPECT_FALSE(encode(MouseEventMessage{.action = "move", .x = std::nan(""), .y = 0}));
    EXPECT_FALSE(encode(SpotlightMessage{0, 0, std::numeric_limits<double>::infinity(), true}));
}

} // namespace
} // namespace velmarin::protocol
