#pragma once

// Log output of the video library. The library has no Qt, so it writes to a
// sink that the application points at its logging categories; until then
// warnings and errors go to stderr and the rest is dropped. Messages are
// English developer texts.

#include <functional>
#include <string>
#include <string_view>

namespace velmarin::video {

enum class LogLevel { debug, info, warning, error };

// `category` is one of "encoding", "decoding", "network".
using LogSink =
    std::function<void(LogLevel level, std::string_view category, std::string_view message)>;

// Replaces the process-wide sink; an empty function restores the default.
// Thread-safe; the sink itself is called from the encoder's, decoder's and
// caller's threads and must be thread-safe too.
void setLogSink(LogSink sink);

// printf-style formatting; arguments must match the format.
[[gnu::format(printf, 3, 4)]] void log(LogLevel level, std::string_view category,
                                       const char* format, ...);

// Sends libavcodec's own messages (warnings and worse) to the sink at debug
// level instead of stderr: a corrupt frame from the network makes the h264
// decoder complain loudly, and that is expected, not news for the user. The
// first encoder or decoder calls it; calling it again does nothing.
void routeCodecLogs();

} // namespace velmarin::video
