#pragma once

// The Qt-free libraries' log lines in the application's logging categories
// (app/Log.h): "capture", "encoding", "decoding", "network", "input" and
// "permissions" go to the category of that name.

#include "log/LogSink.h"

#include <memory>

namespace velmarin {

class QtLogSink final : public logging::Sink {
public:
    // Any thread; QLoggingCategory and the message handler are thread-safe.
    // A line with an unknown category goes to Log::capture rather than
    // being lost.
    void write(logging::Level level, std::string_view category, std::string_view line) override;
};

// The one Qt sink of the process.
std::shared_ptr<logging::Sink> qtLogSink();

// Makes qtLogSink() the process-wide sink; call once at start-up.
void routeLogsToQt();

} // namespace velmarin
