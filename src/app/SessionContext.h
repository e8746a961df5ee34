#pragma once

// What the coordinator hands a Host or Viewer session: the relay connection,
// the router, the observable state and settings, the components and the
// options. All of it outlives the session. Also the small senders both
// sessions use.

#include "app/AppSettings.h"
#include "app/ConnectionState.h"
#include "app/MessageRouter.h"
#include "app/ReconnectionManager.h"
#include "interfaces/SessionComponents.h"
#include "app/TaskSlot.h"
#include "app/WebSocketAwait.h"
#include "protocol/ProtocolEncoder.h"
#include "transport/RelayEndpoint.h"
#include "transport/WebSocketManager.h"

#include <QPointer>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <memory>
#include <string>

namespace velmarin {

struct CoordinatorOptions {
    std::string relayURL = transport::relayURL();
    std::chrono::milliseconds pingInterval{5000};
    std::chrono::milliseconds systemInfoInterval{5000};
    std::chrono::milliseconds qualityInterval{2000};
    // Between "select_monitor" and "request_keyframe" on the Viewer.
    std::chrono::milliseconds keyframeAfterMonitorSwitch{200};
    // The reconnect back-off's jitter and sleep (real ones when empty).
    ReconnectionManager::JitterSource reconnectJitter;
    ReconnectionManager::Sleeper reconnectSleeper;
};

struct SessionContext {
    // Shared with the Host's video sender, which must not outlive its use.
    std::shared_ptr<transport::WebSocketManager> webSocket;
    MessageRouter& router;
    ConnectionState& state;
    QPointer<AppSettings> settings;
    SessionComponents& components;
    const CoordinatorOptions& options;
};

// Sends a record as text; failures are ignored.
template <class M> void sendMessage(transport::WebSocketManager& webSocket, const M& message) {
    if (auto text = protocol::ProtocolEncoder::encode(message))
        webSocket.sendText(std::move(*text));
}

template <class M>
QCoro::Task<transport::WebSocketResult> sendMessageAwaited(transport::WebSocketManager& webSocket,
                                                           M message) {
    auto text = protocol::ProtocolEncoder::encode(message);
    if (!text)
        co_return {};
    co_return co_await awaitSendText(webSocket, std::move(*text));
}

// A "ping" every interval for the latency figure, until the slot is cancelled.
void startPingTask(TaskSlot& slot, std::weak_ptr<transport::WebSocketManager> webSocket,
                   std::chrono::milliseconds interval);

// Stops delivering the connection's messages and losses to the router.
void detachRouter(transport::WebSocketManager& webSocket);

} // namespace velmarin
