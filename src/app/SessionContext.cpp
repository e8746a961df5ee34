#include "app/SessionContext.h"

#include "app/CancellableSleep.h"

namespace velmarin {

void startPingTask(TaskSlot& slot, std::weak_ptr<transport::WebSocketManager> webSocket,
                   std::chrono::milliseconds interval) {
    slot.start([webSocket, interval](std::stop_token stop) -> QCoro::Task<void> {
        while (!stop.stop_requested()) {
            co_await sleepFor(interval, stop);
            const auto connection = webSocket.lock();
            if (!connection || stop.stop_requested())
                co_return;
            sendMessage(*connection, protocol::PingMessage{.timestamp = protocol::currentTimestampMs()});
        }
    });
}

void detachRouter(transport::WebSocketManager& webSocket) {
    webSocket.setOnMessage({});
    webSocket.setOnDisconnect({});
}

} // namespace velmarin
