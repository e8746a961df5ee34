#pragma once

// Awaiting the transport from coroutines on the GUI thread. The transport
// completes on its own thread; these resume the caller on the thread that
// awaited.
//
//   if (auto connected = co_await awaitConnect(webSocket); !connected)
//       state.setStatus(Status::error(QString::fromStdString(connected.error().description())));

#include "transport/WebSocketManager.h"

#include <QFuture>
#include <qcoro/qcorotask.h>

#include <cstdint>
#include <string>
#include <vector>

namespace velmarin {

using transport::WebSocketError;
using transport::WebSocketManager;
using transport::WebSocketMessage;
using transport::WebSocketResult;

QFuture<WebSocketResult> connectFuture(WebSocketManager& webSocket);
QFuture<WebSocketResult> sendTextFuture(WebSocketManager& webSocket, std::string text);
QFuture<WebSocketResult> sendDataFuture(WebSocketManager& webSocket,
                                        std::vector<std::uint8_t> bytes);

QCoro::Task<WebSocketResult> awaitConnect(WebSocketManager& webSocket);
QCoro::Task<WebSocketResult> awaitSendText(WebSocketManager& webSocket, std::string text);
QCoro::Task<WebSocketResult> awaitSendData(WebSocketManager& webSocket,
                                           std::vector<std::uint8_t> bytes);

} // namespace velmarin
