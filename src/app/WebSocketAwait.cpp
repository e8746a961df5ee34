#include "app/WebSocketAwait.h"

#include <QPromise>
#include <qcoro/qcorofuture.h>

#include <memory>

namespace velmarin {

namespace {

// The promise lives until the transport calls the completion, which it
// always does (also when the manager is destroyed first).
template <class Start> QFuture<WebSocketResult> makeFuture(Start&& start) {
    auto promise = std::make_shared<QPromise<WebSocketResult>>();
    QFuture<WebSocketResult> future = promise->future();
    promise->start();
    start([promise](WebSocketResult result) {
        promise->addResult(std::move(result));
        promise->finish();
    });
    return future;
}

} // namespace

QFuture<WebSocketResult> connectFuture(WebSocketManager& webSocket) {
    return makeFuture([&](auto done) { webSocket.connect(std::move(done)); });
}

QFuture<WebSocketResult> sendTextFuture(WebSocketManager& webSocket, std::string text) {
    return makeFuture([&](auto done) { webSocket.sendText(std::move(text), std::move(done)); });
}

QFuture<WebSocketResult> sendDataFuture(WebSocketManager& webSocket,
                                        std::vector<std::uint8_t> bytes) {
    return makeFuture([&](auto done) { webSocket.sendData(std::move(bytes), std::move(done)); });
}

QCoro::Task<WebSocketResult> awaitConnect(WebSocketManager& webSocket) {
    co_return co_await connectFuture(webSocket);
}

QCoro::Task<WebSocketResult> awaitSendText(WebSocketManager& webSocket, std::string text) {
    co_return co_await sendTextFuture(webSocket, std::move(text));
}

QCoro::Task<WebSocketResult> awaitSendData(WebSocketManager& webSocket,
                                           std::vector<std::uint8_t> bytes) {
    co_return co_await sendDataFuture(webSocket, std::move(bytes));
}

} // namespace velmarin
