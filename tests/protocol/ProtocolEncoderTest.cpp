#include "protocol/ProtocolEncoder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <tuple>

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

// Golden vectors: the exact bytes a peer sees.

TEST(ProtocolEncoder, SessionMessagesGolden) {
    EXPECT_EQ(encoded(RegisterMessage{.passwordHash = "ab"}),
              R"({"type":"register","role":"host","passwordHash":"ab"})");
    EXPECT_EQ(encoded(RegisterMessage{.passwordHash = "ab", .requestedId = "123456789"}),
              R"({"type":"register","role":"host","passwordHash":"ab","requestedId":"123456789"})");
    EXPECT_EQ(encoded(RegisteredMessage{"987654321"}), R"({"type":"registered","id":"987654321"})");
    EXPECT_EQ(encoded(ConnectMessage{"111222333"}), R"({"type":"connect","targetId":"111222333"})");
    EXPECT_EQ(encoded(ChallengeMessage{"n1"}), R"({"type":"challenge","nonce":"n1"})");
    EXPECT_EQ(encoded(ChallengeResponseMessage{"r"}),
              R"({"type":"challenge_response","response":"r"})");
    EXPECT_EQ(encoded(ConnectedMessage{}), R"({"type":"connected"})");
    EXPECT_EQ(encoded(ViewerConnectedMessage{}), R"({"type":"viewer_connected"})");
    EXPECT_EQ(encoded(HostDisconnectedMessage{}), R"({"type":"host_disconnected"})");
    EXPECT_EQ(encoded(ViewerDisconnectedMessage{}), R"({"type":"viewer_disconnected"})");
    EXPECT_EQ(encoded(DisconnectMessage{}), R"({"type":"disconnect"})");
    EXPECT_EQ(encoded(ErrorMessage{"Onbekend ID"}), R"({"type":"error","message":"Onbekend ID"})");
    EXPECT_EQ(encoded(PingMessage{18446744073709551615ULL}),
              R"({"type":"ping","timestamp":18446744073709551615})");
    EXPECT_EQ(encoded(PongMessage{1500}), R"({"type":"pong","timestamp":1500})");
}

TEST(ProtocolEncoder, InputMessagesGolden) {
    EXPECT_EQ(encoded(MouseEventMessage{.action = "move", .x = 0.25, .y = 0.5, .button = 0}),
              R"({"type":"mouse","action":"move","x":0.25,"y":0.5,"button":0})");
    EXPECT_EQ(encoded(MouseEventMessage{.action = "scroll",
                                        .x = 0.5,
                                        .y = 0.5,
                                        .button = 0,
                                        .scrollDeltaX = 0.0,
                                        .scrollDeltaY = -3.5}),
              R"({"type":"mouse","action":"scroll","x":0.5,"y":0.5,"button":0,)"
              R"("scrollDeltaX":0.0,"scrollDeltaY":-3.5})");
    EXPECT_EQ(encoded(MouseEventMessage{
                  .action = "leftDown", .x = 1, .y = 0, .button = 0, .clickCount = 2}),
              R"({"type":"mouse","action":"leftDown","x":1.0,"y":0.0,"button":0,"clickCount":2})");
    EXPECT_EQ(encoded(KeyEventMessage{.action = "down", .keyCode = 65535, .flags = 0x40101}),
              R"({"type":"key","action":"down","keyCode":65535,"flags":262401})");
    EXPECT_EQ(encoded(KeyEventMessage{
                  .action = "up", .keyCode = 0, .flags = 0, .characters = "a\"\\\n\u00e9"}),
              "{\"type\":\"key\",\"action\":\"up\",\"keyCode\":0,\"flags\":0,"
              "\"characters\":\"a\\\"\\\\\\n\u00e9\"}");
    EXPECT_EQ(encoded(SpecialKeysMessage{"ctrl_alt_del"}),
              R"({"type":"special_keys","combo":"ctrl_alt_del"})");
}

TEST(ProtocolEncoder, DisplayAndCollaborationMessagesGolden) {
    EXPECT_EQ(encoded(ScreenInfoMessage{1920, 1080, 2}),
              R"({"type":"screen_info","width":1920,"height":1080,"scaleFactor":2.0})");
    EXPECT_EQ(encoded(MonitorListMessage{}), R"({"type":"monitor_list","monitors":[]})");
    EXPECT_EQ(encoded(MonitorListMessage{{{7, "DP-1 (2560×1440)", 2560, 1440, -2560, 0, true}}}),
              R"j({"type":"monitor_list","monitors":[{"id":7,"name":"DP-1 (2560×1440)",)j"
              R"j("width":2560,"height":1440,"x":-2560,"y":0,"primary":true}]})j");
    EXPECT_EQ(encoded(SelectMonitorMessage{3}), R"({"type":"select_monitor","monitorId":3})");
    EXPECT_EQ(encoded(RequestKeyframeMessage{}), R"({"type":"request_keyframe"})");
    EXPECT_EQ(encoded(QualitySettingMessage{"very_low"}),
              R"({"type":"quality_setting","level":"very_low"})");
    EXPECT_EQ(encoded(DrawMessage{"pen", "a1b2c3d4", {{0.1, 0.2}, {0.3, 0.4}}, "#FF3B30", false}),
              R"({"type":"draw","tool":"pen","strokeId":"a1b2c3d4","points":[{"x":0.1,"y":0.2},)"
              R"({"x":0.3,"y":0.4}],"color":"#FF3B30","ended":false})");
    EXPECT_EQ(encoded(SpotlightMessage{0.5, 0.5, 0.1, true}),
              R"({"type":"spotlight","x":0.5,"y":0.5,"radius":0.1,"active":true})");
    EXPECT_EQ(encoded(FileChunkMessage{"0a1b2c3d", 4, "AAE="}),
              R"({"type":"file_chunk","transferId":"0a1b2c3d","chunkIndex":4,"data":"AAE="})");
    EXPECT_EQ(encoded(PresenceMessage{{"123456789", "987654321"}}),
              R"({"type":"presence","ids":["123456789","987654321"]})");
    EXPECT_EQ(encoded(PresenceResultMessage{{{"123456789", "online"}, {"2", "busy"}}}),
              R"({"type":"presence_result","statuses":{"123456789":"online","2":"busy"}})");
}

TEST(ProtocolEncoder, ChatTimestampIsWallClockMilliseconds) {
    const auto at = std::chrono::system_clock::time_point(std::chrono::milliseconds(1500)) +
                    std::chrono::microseconds(900);
    const ChatMessage chat = ChatMessage::make("viewer", "Hallo", at);
    EXPECT_EQ(chat.timestamp, 1500u);
    EXPECT_EQ(encoded(chat),
              R"({"type":"chat","sender":"viewer","text":"Hallo","timestamp":1500})");
}

// Every record survives encode → decode.

template <class M> class RoundTrip : public ::testing::Test {};

template <class M> M sample();

// clang-format off
template <> RegisterMessage sample() { return {"host", std::string(64, 'a'), "123456789"}; }
template <> RegisteredMessage sample() { return {"123456789"}; }
template <> ConnectMessage sample() { return {"123456789"}; }
template <> ChallengeMessage sample() { return {"00ff"}; }
template <> ChallengeResponseMessage sample() { return {std::string(64, 'f')}; }
template <> ConnectedMessage sample() { return {}; }
template <> ViewerConnectedMessage sample() { return {}; }
template <> HostDisconnectedMessage sample() { return {}; }
template <> ViewerDisconnectedMessage sample() { return {}; }
template <> DisconnectMessage sample() { return {}; }
template <> ErrorMessage sample() { return {"Verkeerd wachtwoord"}; }
template <> PingMessage sample() { return {1733480000123}; }
template <> PongMessage sample() { return {1733480000123}; }
template <> MouseEventMessage sample() { return {"scroll", 0.125, 0.875, 0, -1.5, 2.25, 3}; }
template <> KeyEventMessage sample() { return {"down", 0x7E, 0x100108, "\xF0\x9F\x98\x80"}; }
template <> SpecialKeysMessage sample() { return {"ctrl_alt_del"}; }
template <> ScreenInfoMessage sample() { return {1512, 982, 2}; }
template <> QualitySettingMessage sample() { return {"medium"}; }
template <> RequestKeyframeMessage sample() { return {}; }
template <> MonitorListMessage sample() { return {{{1, "A", 1920, 1080, 0, 0, true}, {2, "B", 1280, 1024, 1920, -100, false}}}; }
template <> SelectMonitorMessage sample() { return {2}; }
template <> SystemInfoMessage sample() { return {"werkplek", "Debian GNU/Linux", "12", "x86_64", "AMD EPYC", 2, 37.5, 8'000'000'000, 25'000'000'000, 1LL << 40, 1LL << 41, 86'400}; }
template <> ChatMessage sample() { return {"host", "Goedemorgen", 42}; }
template <> ClipboardMessage sample() { return {"regel 1\nregel 2", "deadbeef"}; }
template <> DrawMessage sample() { return {"laser", "0badf00d", {{0, 0}, {1, 1}}, "#00C7BE", true}; }
template <> DrawClearMessage sample() { return {}; }
template <> SpotlightMessage sample() { return {0.5, 0.25, 0.15, false}; }
template <> FileOfferMessage sample() { return {"12345678", "rapport.pdf", 10'485'760, 160, "viewer"}; }
template <> FileAcceptMessage sample() { return {"12345678"}; }
template <> FileRejectMessage sample() { return {"12345678"}; }
template <> FileChunkMessage sample() { return {"12345678", 159, "SGFsbG8="}; }
template <> FileAckMessage sample() { return {"12345678", 159}; }
template <> FileCancelMessage sample() { return {"12345678"}; }
template <> FileCompleteMessage sample() { return {"12345678"}; }
template <> PresenceMessage sample() { return {{"123456789", "000000001"}}; }
template <> PresenceResultMessage sample() { return {{{"123456789", "offline"}, {"000000001", "online"}}}; }
// clang-format on

using AllMessages = ::testing::Types<
    RegisterMessage, RegisteredMessage, ConnectMessage, ChallengeMessage, ChallengeResponseMessage,
    ConnectedMessage, ViewerConnectedMessage, HostDisconnectedMessage, ViewerDisconnectedMessage,
    DisconnectMessage, ErrorMessage, PingMessage, PongMessage, MouseEventMessage, KeyEventMessage,
    SpecialKeysMessage, ScreenInfoMessage, QualitySettingMessage, RequestKeyframeMessage,
    MonitorListMessage, SelectMonitorMessage, SystemInfoMessage, ChatMessage, ClipboardMessage,
    DrawMessage, DrawClearMessage, SpotlightMessage, FileOfferMessage, FileAcceptMessage,
    FileRejectMessage, FileChunkMessage, FileAckMessage, FileCancelMessage, FileCompleteMessage,
    PresenceMessage, PresenceResultMessage>;
TYPED_TEST_SUITE(RoundTrip, AllMessages);

TYPED_TEST(RoundTrip, DecodesWhatItEncodes) {
    const TypeParam original = sample<TypeParam>();
    const std::string text = encoded(original);
    EXPECT_EQ(decodeType(text), std::string(TypeParam::kType));
    const auto decoded = decode<TypeParam>(text);
    ASSERT_TRUE(decoded) << text;
    EXPECT_EQ(*decoded, original) << text;
}

TYPED_TEST(RoundTrip, EveryRequiredKeyIsRequired) {
    // Removing any one non-optional key must fail the whole decode; nulling
    // an optional one must not.
    const nlohmann::json full = nlohmann::json::parse(encoded(sample<TypeParam>()));
    const nlohmann::json bare = nlohmann::json::parse(encoded(TypeParam{}));
    for (const auto& [key, value] : full.items()) {
        nlohmann::json reduced = full;
        reduced.erase(key);
        const bool optional = !bare.contains(key);
        EXPECT_EQ(decode<TypeParam>(reduced.dump()).has_value(), optional) << key;
        reduced[key] = nullptr;
        EXPECT_EQ(decode<TypeParam>(reduced.dump()).has_value(), optional) << key;
    }
}

TEST(ProtocolEncoder, UnknownKeysAreIgnoredAndNullMeansAbsent) {
    const auto registered =
        decode<RegisteredMessage>(R"({"type":"registered","id":"123456789","motd":{"x":[1]}})");
    ASSERT_TRUE(registered);
    EXPECT_EQ(registered->id, "123456789");
    const auto mouse = decode<MouseEventMessage>(
        R"({"type":"mouse","action":"leftDown","x":0.5,"y":0.5,"button":0,"clickCount":null})");
    ASSERT_TRUE(mouse);
    EXPECT_FALSE(mouse->clickCount);
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
