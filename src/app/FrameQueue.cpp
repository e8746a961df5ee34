#include "app/FrameQueue.h"

namespace velmarin {

void FrameQueue::push(protocol::Bytes frame) {
    {
        const std::lock_guard lock(m_mutex);
        if (m_finished)
            return;
        if (m_frame)
            ++m_dropped;
        m_frame = std::move(frame);
    }
    m_available.notify_one();
}

std::optional<protocol::Bytes> FrameQueue::pop() {
    std::unique_lock lock(m_mutex);
    m_available.wait(lock, [this] { return m_finished || m_frame.has_value(); });
    if (m_finished)
        return std::nullopt;
    std::optional<protocol::Bytes> frame = std::move(m_frame);
    m_frame.reset();
    return frame;
}

void FrameQueue::finish() {
    {
        const std::lock_guard lock(m_mutex);
        m_finished = true;
        m_frame.reset();
    }
    m_available.notify_all();
}

std::uint64_t FrameQueue::droppedFrames() const {
    const std::lock_guard lock(m_mutex);
    return m_dropped;
}

} // namespace velmarin
