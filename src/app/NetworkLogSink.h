#pragma once

// Routes the transport library's log lines into Log::network.

#include "transport/LogSink.h"

#include <memory>

namespace velmarin {

class NetworkLogSink final : public transport::LogSink {
public:
    // Called on the transport thread; QLoggingCategory is thread-safe.
    void write(transport::LogLevel level, std::string_view line) override;
};

// The one sink every WebSocketManager of the application logs through.
std::shared_ptr<transport::LogSink> networkLogSink();

} // namespace velmarin
