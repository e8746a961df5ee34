// The relay routes control messages by a scan of their "type": it must agree
// with the full decoder on every real message and refuse what a full parser
// could read differently.

#include "protocol/ProtocolEncoder.h"
#include "protocol/ProtocolMessages.h"
#include "relay/message_type.h"

#include <gtest/gtest.h>

using velmarin::relay::scan_message_type;
namespace proto = velmarin::protocol;

TEST(MessageTypeScan, AgreesWithTheDecoderOnRealMessages) {
    const std::string texts[] = {
        *proto::ProtocolEncoder::encode(proto::PingMessage{.timestamp = 5}),
        *proto::ProtocolEncoder::encode(proto::ChatMessage{
            .sender = "a\"}{", .text = "regel\n\"type\":\"register\"", .timestamp = 1}),
        *proto::ProtocolEncoder::encode(proto::PresenceMessage{{"123456789", "987654321"}}),
        R"( { "x" : [ {"type":"register"}, "]" , -1.5e3 ] , "type" : "mouse" , "n":null } )",
    };
    for (const auto& text : texts)
        EXPECT_EQ(scan_message_type(text), proto::ProtocolEncoder::decodeType(text)) << text;
}

TEST(MessageTypeScan, RefusesWhatAFullParserMightReadOtherwise) {
    for (const std::string_view text : {
             R"({"type":"mouse","type":"register"})",      // twice
             R"({"typ\u0065":"register","type":"mouse"})", // escaped name
             R"({"type":"regist\u0065r"})",
             R"({"type":7})",
             R"({"data":{"type":"ping"}})", // only nested
             R"({"type":"ping"} {)",
             R"({"type":"ping")",
             R"(["type","ping"])",
             "",
         })
        EXPECT_EQ(scan_message_type(text), std::nullopt) << text;
}
