#pragma once

// An optional handle to one running coroutine on the GUI thread. Starting a
// task into a slot first cancels the one that is in it. Cancelling asks the
// task to stop through its token: cancellable sleeps end at once, and the
// task checks the token after every other wait and returns.

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <stop_token>

namespace velmarin {

class TaskSlot {
public:
    using Body = std::function<QCoro::Task<void>(std::stop_token stop)>;

    TaskSlot() = default;
    ~TaskSlot() { cancel(); }
    TaskSlot(const TaskSlot&) = delete;
    TaskSlot& operator=(const TaskSlot&) = delete;

    // Cancels the running task, then starts `body`, which runs at once up to
    // its first suspension. The slot keeps `body` (and what it captured)
    // alive until the task has finished, also after a cancel.
    void start(Body body);

    // Requests the running task to stop and empties the slot.
    void cancel();

    // A task was started and has neither finished nor been cancelled.
    bool isRunning() const { return m_running && !*m_running; }

private:
    std::stop_source m_stop{std::nostopstate};
    // Set by the task when it ends; shared because the task may outlive the
    // slot's interest in it.
    std::shared_ptr<bool> m_running;
};

} // namespace velmarin
