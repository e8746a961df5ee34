#pragma once

// Waiting for a condition while the Qt event loop runs, instead of sleeping
// for a guessed time that only suffices on a fast machine.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <chrono>
#include <functional>

namespace velmarin::testing {

// Runs the event loop until `condition` holds or `timeout` passed; returns
// whether it holds. Sleeps a little between checks so that the processes
// under test keep the processor.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

// Runs the event loop for `duration`.
inline void pumpFor(std::chrono::milliseconds duration) {
    waitUntil([] { return false; }, duration);
}

} // namespace velmarin::testing
