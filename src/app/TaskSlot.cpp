#include "app/TaskSlot.h"

namespace velmarin {

namespace {

// Owns the body for the task's whole life: a lambda coroutine refers to its
// captures through the closure object, which must not be a dead temporary.
QCoro::Task<void> run(TaskSlot::Body body, std::stop_token stop, std::shared_ptr<bool> finished) {
    co_await body(std::move(stop));
    *finished = true;
}

} // namespace

void TaskSlot::start(Body body) {
    cancel();
    m_stop = std::stop_source();
    m_running = std::make_shared<bool>(false);
    run(std::move(body), m_stop.get_token(), m_running);
}

void TaskSlot::cancel() {
    if (m_stop.stop_possible())
        m_stop.request_stop();
    m_stop = std::stop_source(std::nostopstate);
    m_running.reset();
}

} // namespace velmarin
