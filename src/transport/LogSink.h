#pragma once

// Where the transport's log lines go. The library has no logger of its own;
// the application routes the lines into its "network" category.

#include <string_view>

namespace velmarin::transport {

enum class LogLevel { debug, info, warning, error };

class LogSink {
public:
    virtual ~LogSink() = default;
    // Called on any thread, also the transport thread; must not block long.
    virtual void write(LogLevel level, std::string_view line) = 0;
};

} // namespace velmarin::transport
