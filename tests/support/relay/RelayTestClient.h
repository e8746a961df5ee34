#pragma once

// A small WebSocket client for tests that talk to a relay the way a Host,
// Viewer or presence poller does: TLS verified against the development CA,
// text and binary messages, WebSocket ping frames. Single-threaded: nothing
// happens on the connection except inside its own calls, so a test can hold
// back reading (a slow receiver) simply by not calling receive().
//
//     velmarin::testing::RelayTestClient host(relay.port(), relay.caFile());
//     host.send(protocol::RegisterMessage{.passwordHash = digest});
//     auto registered = host.receiveAs<protocol::RegisteredMessage>();

#include "protocol/ProtocolEncoder.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct ssl_st;

namespace velmarin::testing {

class RelayTestClient {
public:
    struct Message {
        bool binary = false;
        std::string data;
    };

    // Connects and completes the TLS and WebSocket handshakes to
    // wss://localhost:PORT/ (or `path`); throws std::runtime_error on failure.
    // For tests of the TLS layer, `tune` adjusts the client's OpenSSL
    // connection (versions, cipher suites) before the handshake.
    RelayTestClient(std::uint16_t port, const std::string& caFile, const std::string& path = "/",
                    const std::function<void(ssl_st*)>& tune = {});
    ~RelayTestClient();
    RelayTestClient(const RelayTestClient&) = delete;
    RelayTestClient& operator=(const RelayTestClient&) = delete;

    // False when the connection is closed or the write fails.
    bool sendText(std::string_view text);
    bool sendBinary(std::string_view bytes);
    template <protocol::Message M> bool send(const M& message) {
        const auto text = protocol::ProtocolEncoder::encode(message);
        return text && sendText(*text);
    }

    // The next message, or nothing when none arrives in time or the
    // connection closed.
    std::optional<Message> receive(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // The next text message of the given type, skipping nothing: any other
    // message first yields nothing.
    template <protocol::Message M>
    std::optional<M> receiveAs(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto message = receive(timeout);
        if (!message || message->binary)
            return std::nullopt;
        return protocol::ProtocolEncoder::decode<M>(message->data);
    }
    // The `type` of the next text message, or nothing.
    std::optional<std::string>
    receiveType(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto message = receive(timeout);
        if (!message || message->binary)
            return std::nullopt;
        return protocol::ProtocolEncoder::decodeType(message->data);
    }

    // Sends a WebSocket ping frame and waits for the pong.
    bool ping(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // Waits until the relay closes the connection.
    bool waitClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool isOpen() const;
    void close(); // closes the socket without a close handshake

    // The connection's OpenSSL handle and socket, for tests of the TLS layer.
    ssl_st* tlsHandle();
    int nativeSocket();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace velmarin::testing
