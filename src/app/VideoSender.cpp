#include "app/VideoSender.h"

#include "transport/WebSocketManager.h"

#include <thread>

namespace velmarin::VideoSender {

std::uint64_t run(FrameQueue& queue, const Send& send) {
    std::uint64_t sent = 0;
    int failures = 0;
    while (auto frame = queue.pop()) {
        switch (send(std::move(*frame))) {
        case SendOutcome::sent:
            ++sent;
            failures = 0;
            break;
        case SendOutcome::failed:
            if (failures >= kMaxConsecutiveFailures)
                return sent;
            ++failures;
            break;
        case SendOutcome::gone:
            return sent;
        }
    }
    return sent;
}

void startDetached(std::shared_ptr<FrameQueue> queue,
                   std::weak_ptr<transport::WebSocketManager> webSocket) {
    std::thread([queue = std::move(queue), webSocket = std::move(webSocket)] {
        run(*queue, [&webSocket](protocol::Bytes frame) {
            const auto manager = webSocket.lock();
            if (!manager)
                return SendOutcome::gone;
            const auto sent =
                transport::waitFor([&](transport::WebSocketManager::Completion done) {
                    manager->sendData(std::move(frame), std::move(done));
                });
            return sent ? SendOutcome::sent : SendOutcome::failed;
        });
    }).detach();
}

} // namespace velmarin::VideoSender
