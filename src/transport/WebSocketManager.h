#pragma once

// The client side of one secure WebSocket connection to the relay. It opens
// the connection and confirms it with a ping, keeps one read outstanding and
// hands every message to onMessage, sends text and binary messages, and
// reports a broken connection once through onDisconnect. It knows nothing of
// the JSON protocol and never reconnects by itself.
//
// Each manager runs its own transport thread. Every completion and callback
// runs on that thread; never block it waiting for another operation of the
// same manager.

#include "log/LogSink.h"
#include "transport/WebSocketError.h"
#include "transport/WebSocketMessage.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmarin::transport {

class WebSocketConnection;

class WebSocketManager {
public:
    using Completion = std::function<void(WebSocketResult)>;
    using MessageHandler = std::function<void(WebSocketMessage)>;
    // Why the connection ended under us.
    using DisconnectHandler = std::function<void(const WebSocketError&)>;

    // Nothing is opened yet. Lines go to `log` in category "network", or to
    // the process-wide sink when it is null.
    explicit WebSocketManager(std::string serverURL, std::shared_ptr<logging::Sink> log = {});
    // Closes the connection (1001) and waits for the transport thread, which
    // runs the outstanding completions first. Never destroy a manager from
    // one of its own callbacks.
    ~WebSocketManager();
    WebSocketManager(const WebSocketManager&) = delete;
    WebSocketManager& operator=(const WebSocketManager&) = delete;

    const std::string& serverURL() const { return m_serverURL; }
    // True from a confirmed connect until disconnect() or a receive failure.
    bool isConnected() const;

    // Drops any previous connection, then TCP, TLS (SNI, host-name check,
    // system CAs plus VELMARIN_RELAY_CA), the WebSocket handshake and a ping
    // whose pong confirms. `done` gets nothing on success or
    // connectionFailed; the receive loop runs before it is called.
    void connect(Completion done);

    // Closes with 1001 and no reason. Safe at any time, any number of times;
    // reports nothing, and the outstanding read ends silently. A connect in
    // progress fails.
    void disconnect();

    // One message each; `done` runs when the frame was written, or at once
    // with notConnected when there is no connection. Any thread may send;
    // frames go out in the order the calls were made.
    void sendText(std::string text, Completion done = {});
    void sendData(std::vector<std::uint8_t> bytes, Completion done = {});

    // Called on the transport thread, one message at a time, in arrival order.
    void setOnMessage(MessageHandler handler);
    // Called on the transport thread at most once per connection, when a
    // receive fails while the connection counted as connected.
    void setOnDisconnect(DisconnectHandler handler);

private:
    void log(logging::Level level, const std::string& line) const;
    void onReadFailed(const std::shared_ptr<WebSocketConnection>& connection,
                      const WebSocketError& error);
    void send(bool binary, std::string text, std::vector<std::uint8_t> data, Completion done);

    struct Runtime;

    const std::string m_serverURL;
    const std::shared_ptr<logging::Sink> m_log;
    std::unique_ptr<Runtime> m_runtime;

    // Guards the members below; never held across a network operation, a
    // callback or a log call.
    mutable std::mutex m_mutex;
    std::shared_ptr<WebSocketConnection> m_connection;
    bool m_connected = false;
    MessageHandler m_onMessage;
    DisconnectHandler m_onDisconnect;
};

// Starts `operation` with a completion and blocks until it ran: for threads
// that may block (the video sender, tests), never the transport thread.
WebSocketResult waitFor(const std::function<void(WebSocketManager::Completion)>& operation);

} // namespace velmarin::transport
