#pragma once

// The Host's video sender: takes each encoded frame from the frame queue and
// sends it as one binary message, awaiting every send before taking the next.
// It runs on its own thread, never the GUI thread, and ends when the queue is
// finished, when the connection is gone, or after 51 sends in a row failed.

#include "app/FrameQueue.h"

#include <functional>
#include <memory>

namespace velmarin {

namespace transport {
class WebSocketManager;
}

namespace VideoSender {

// Failures in a row that are tolerated; the next one ends the sender.
inline constexpr int kMaxConsecutiveFailures = 50;

enum class SendOutcome { sent, failed, gone };
using Send = std::function<SendOutcome(protocol::Bytes frame)>;

// The loop itself, on the calling thread. Returns the number of frames sent.
std::uint64_t run(FrameQueue& queue, const Send& send);

// Runs the loop on a new detached thread, sending through `webSocket` for as
// long as it exists.
void startDetached(std::shared_ptr<FrameQueue> queue,
                   std::weak_ptr<transport::WebSocketManager> webSocket);

} // namespace VideoSender
} // namespace velmarin
