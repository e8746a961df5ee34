#include "app/ReceiveBacklog.h"

#include <algorithm>

namespace velmarin {

void ReceiveBacklog::add(std::size_t bytes) {
    std::unique_lock lock(m_mutex);
    m_drained.wait(lock, [this] { return m_bytes < kLimit || m_closed; });
    m_bytes += bytes;
}

void ReceiveBacklog::remove(std::size_t bytes) {
    {
        const std::lock_guard lock(m_mutex);
        m_bytes -= std::min(bytes, m_bytes);
    }
    m_drained.notify_all();
}

void ReceiveBacklog::close() {
    {
        const std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_drained.notify_all();
}

std::size_t ReceiveBacklog::bytes() const {
    const std::lock_guard lock(m_mutex);
    return m_bytes;
}

} // namespace velmarin
