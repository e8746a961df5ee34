#include "app/CancellableSleep.h"

#include <QObject>
#include <QTimer>
#include <qcoro/qcorosignal.h>

#include <algorithm>
#include <limits>
#include <memory>

namespace velmarin {

QCoro::Task<void> sleepFor(std::chrono::nanoseconds duration, std::stop_token stop) {
    if (stop.stop_requested())
        co_return;
    // The timer lives on the awaiting thread; a stop request from another
    // thread reaches it through a queued call.
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QTimer* const raw = timer.get();
    const std::stop_callback wake(stop, [raw] {
        QMetaObject::invokeMethod(
            raw, [raw] { raw->start(0); }, Qt::QueuedConnection);
    });
    const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(duration);
    timer->start(static_cast<int>(std::min<std::chrono::milliseconds::rep>(
        milliseconds.count(), std::numeric_limits<int>::max())));
    co_await qCoro(raw, &QTimer::timeout);
}

} // namespace velmarin
