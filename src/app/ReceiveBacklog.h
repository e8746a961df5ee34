#pragma once

// Received bytes handed to the GUI thread and not yet handled there. The
// transport thread waits while they are over the limit, so a peer that sends
// faster than this side handles is slowed down by TCP (and by the relay's
// own limits) instead of growing the GUI thread's queue without bound.
// Whoever handles the messages closes the backlog when it goes, so that a
// transport thread waiting for it never waits for nobody.

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace velmarin {

class ReceiveBacklog {
public:
    static constexpr std::size_t kLimit = 64 * 1024 * 1024;

    // Transport thread, before posting `bytes`.
    void add(std::size_t bytes);
    // GUI thread, once they are handled.
    void remove(std::size_t bytes);
    // No more waiting: nothing will be handled any more.
    void close();
    std::size_t bytes() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_drained;
    std::size_t m_bytes = 0;
    bool m_closed = false;
};

} // namespace velmarin
