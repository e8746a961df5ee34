#pragma once

// A sleep for GUI-thread coroutines that ends early when its stop token is
// triggered (from any thread). Tasks started into a slot hand their slot's
// token down to every wait they make.

#include <qcoro/qcorotask.h>

#include <chrono>
#include <stop_token>

namespace velmarin {

// Returns after `duration`, or as soon as `stop` is requested (at once when it
// already is). Never throws; the caller checks the token afterwards.
QCoro::Task<void> sleepFor(std::chrono::nanoseconds duration, std::stop_token stop = {});

} // namespace velmarin
