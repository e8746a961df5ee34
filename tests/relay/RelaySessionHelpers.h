#pragma once

// Steps every relay integration test needs: a Host registers, a Viewer
// answers the challenge. Each fails the calling test on an unexpected reply.

#include "protocol/CryptoHelper.h"
#include "protocol/ProtocolMessages.h"
#include "protocol/VideoFrame.h"
#include "support/relay/RelayProcess.h"
#include "support/relay/RelayTestClient.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdint>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace velmarin::testing {

namespace proto = velmarin::protocol;

// A binary video frame message; the payload repeats the sequence's low byte.
inline std::string frame(std::uint32_t sequence, bool keyframe, std::size_t payloadSize) {
    const auto head =
        proto::VideoFrameHeader{.isKeyframe = keyframe,
                                .sequenceNumber = sequence,
                                .payloadSize = static_cast<std::uint32_t>(payloadSize)}
            .encode();
    std::string out(head.begin(), head.end());
    out.append(payloadSize, static_cast<char>(sequence & 0xff));
    return out;
}

inline std::unique_ptr<RelayTestClient> client(const RelayProcess& relay,
                                               const std::function<void(ssl_st*)>& tune = {}) {
    return std::make_unique<RelayTestClient>(relay.port(), relay.caFile(), "/", tune);
}

// A client once the relay admits it: closed connections (the start-up
// probe's, a test's own) take a moment to stop counting. Null if never.
inline std::unique_ptr<RelayTestClient> admittedClient(const RelayProcess& relay) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        try {
            return client(relay);
        } catch (const std::exception&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return nullptr;
}

// A plain TCP connection to the relay on loopback, reads timing out after
// `timeout`; -1 when refused.
inline int loopbackSocket(std::uint16_t port, std::chrono::seconds timeout) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval limit{static_cast<time_t>(timeout.count()), 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}

inline std::string registerHost(RelayTestClient& host, const std::string& password,
                                std::optional<std::string> requestedId = std::nullopt) {
    EXPECT_TRUE(host.send(proto::RegisterMessage{
        .passwordHash = proto::CryptoHelper::sha256hex(password), .requestedId = requestedId}));
    const auto registered = host.receiveAs<proto::RegisteredMessage>();
    EXPECT_TRUE(registered.has_value());
    return registered ? registered->id : std::string();
}

// A message's bytes; "<none>" when nothing came.
inline std::string dataOf(const std::optional<RelayTestClient::Message>& message) {
    return message ? message->data : "<none>";
}

// An "error" message's text, or another message's type; "<none>" when nothing came.
inline std::string answerOf(const std::optional<RelayTestClient::Message>& message) {
    if (!message || message->binary)
        return "<none>";
    if (const auto error = proto::ProtocolEncoder::decode<proto::ErrorMessage>(message->data))
        return error->message;
    return proto::ProtocolEncoder::decodeType(message->data).value_or("<not json>");
}

// Runs connect → challenge → challenge_response. Returns the relay's final
// answer: "connected", or the text of the "error".
inline std::string connectViewer(RelayTestClient& viewer, const std::string& id,
                                 const std::string& password) {
    viewer.send(proto::ConnectMessage{id});
    auto reply = viewer.receive();
    if (const auto challenge =
            reply ? proto::ProtocolEncoder::decode<proto::ChallengeMessage>(reply->data)
                  : std::nullopt) {
        viewer.send(proto::ChallengeResponseMessage{
            proto::CryptoHelper::challengeResponse(password, challenge->nonce)});
        reply = viewer.receive();
    }
    return answerOf(reply);
}

// A paired Host and Viewer on a fresh relay.
struct PairedSession {
    std::unique_ptr<RelayTestClient> host;
    std::unique_ptr<RelayTestClient> viewer;
    std::string id;

    PairedSession(const RelayProcess& relay, const std::string& password = "abc234",
                  const std::function<void(ssl_st*)>& tune = {})
        : host(client(relay, tune))
        , viewer(client(relay, tune)) {
        id = registerHost(*host, password);
        EXPECT_EQ(connectViewer(*viewer, id, password), "connected");
        EXPECT_EQ(host->receiveType(), "viewer_connected");
    }
};

} // namespace velmarin::testing
