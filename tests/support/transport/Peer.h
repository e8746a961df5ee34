#pragma once

// A WebSocketManager with everything it reports collected for assertions:
// received messages, disconnect reports and log lines.

#include "protocol/ProtocolEncoder.h"
#include "transport/WebSocketManager.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace velmarin::testing {

class RecordingLog final : public logging::Sink {
public:
    void write(logging::Level level, std::string_view category, std::string_view line) override;
    // Lines (with level prefix "E "/"I "/...) that start with `prefix` after
    // the level.
    int count(std::string_view prefix) const;
    std::vector<std::string> lines() const {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

class Peer {
public:
    explicit Peer(const std::string& url);

    transport::WebSocketResult connect();
    transport::WebSocketResult sendText(std::string text);
    transport::WebSocketResult sendData(std::vector<std::uint8_t> bytes);
    // Whether the message went out.
    template <protocol::Message M> bool send(const M& message) {
        return sendText(*protocol::ProtocolEncoder::encode(message)).hasValue();
    }

    // The next received message, or nothing within `timeout`.
    std::optional<transport::WebSocketMessage>
    next(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // The next text message decoded as M (skipping messages of other types).
    template <protocol::Message M>
    std::optional<M> nextOf(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        using namespace std::chrono;
        const auto deadline = steady_clock::now() + timeout;
        while (const auto message =
                   next(duration_cast<milliseconds>(deadline - steady_clock::now())))
            if (message->isText() &&
                protocol::ProtocolEncoder::decodeType(message->text) == std::string(M::kType))
                return protocol::ProtocolEncoder::decode<M>(message->text);
        return std::nullopt;
    }

    // Waits until at least `count` disconnect reports arrived.
    bool waitForDisconnects(int count, std::chrono::milliseconds timeout);
    std::vector<transport::WebSocketError> disconnects() const;

    transport::WebSocketManager& manager() { return *m_manager; }
    RecordingLog& log() { return *m_log; }

private:
    std::shared_ptr<RecordingLog> m_log = std::make_shared<RecordingLog>();
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<transport::WebSocketMessage> m_inbox;
    std::vector<transport::WebSocketError> m_disconnects;
    std::unique_ptr<transport::WebSocketManager> m_manager;
};

// A connected Host's registration with `password`: its ID, or "" when refused.
std::string registerPeer(Peer& host, const std::string& password);
// A connected Viewer's connect, challenge and answer: whether it was paired.
bool pairPeer(Peer& viewer, const std::string& hostID, const std::string& password);

// A Host registered with `password` and a Viewer paired with it through the
// relay at `url`.
struct PairedPeers {
    PairedPeers(const std::string& url, const std::string& password = "abc234");
    Peer host;
    Peer viewer;
    std::string hostID;
};

} // namespace velmarin::testing
