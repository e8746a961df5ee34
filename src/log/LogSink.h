#pragma once

// Log output of the Qt-free libraries (transport, video, capture). They have
// no logger of their own: each line goes to a sink with its level and its
// category ("network", "capture", "encoding", "decoding", ...). The
// application installs one sink that feeds its logging categories; until it
// does, warnings and errors go to stderr and the rest is dropped. Lines are
// English developer texts.

#include <memory>
#include <string_view>

namespace velmarin::logging {

enum class Level { debug, info, warning, error };

class Sink {
public:
    virtual ~Sink() = default;
    // Called on any thread (transport, capture, encoder, decoder, recording);
    // must be thread-safe and must not block long.
    virtual void write(Level level, std::string_view category, std::string_view line) = 0;
};

// Replaces the process-wide sink; null restores the default one. Thread-safe.
void setSink(std::shared_ptr<Sink> sink);
// The process-wide sink (never null).
std::shared_ptr<Sink> sink();

// Writes one line to the process-wide sink.
void write(Level level, std::string_view category, std::string_view line);

// printf-style formatting; arguments must match the format.
[[gnu::format(printf, 3, 4)]] void log(Level level, std::string_view category, const char* format,
                                       ...);

} // namespace velmarin::logging
