#pragma once

// The Host's hand-over between the encoder and the video sender: at most one
// frame waits, and a new frame replaces one the sender has not taken yet, so
// a slow network drops frames instead of building a backlog. Any thread may
// push; one thread pops.

#include "protocol/NALUParser.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

namespace velmarin {

class FrameQueue {
public:
    // Replaces a waiting frame. Ignored once finished.
    void push(protocol::Bytes frame);
    // The next frame; blocks until one arrives. Nothing once finished.
    std::optional<protocol::Bytes> pop();
    // Wakes the consumer and ends the queue; the waiting frame is dropped.
    void finish();

    // Frames replaced before the sender took them.
    std::uint64_t droppedFrames() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_available;
    std::optional<protocol::Bytes> m_frame;
    std::uint64_t m_dropped = 0;
    bool m_finished = false;
};

} // namespace velmarin
