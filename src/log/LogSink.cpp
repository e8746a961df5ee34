#include "log/LogSink.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace velmarin::logging {
namespace {

class StderrSink final : public Sink {
public:
    void write(Level level, std::string_view category, std::string_view line) override {
        if (level < Level::warning)
            return;
        // One call per line, so lines from different threads do not mix.
        std::fprintf(stderr, "com.tessamund.velmarin.%.*s: %.*s\n",
                     static_cast<int>(category.size()), category.data(),
                     static_cast<int>(line.size()), line.data());
    }
};

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<Sink>& currentSink() {
    static std::shared_ptr<Sink> sink = std::make_shared<StderrSink>();
    return sink;
}

} // namespace

void setSink(std::shared_ptr<Sink> sink) {
    if (!sink)
        sink = std::make_shared<StderrSink>();
    const std::lock_guard lock(sinkMutex());
    currentSink() = std::move(sink);
}

std::shared_ptr<Sink> sink() {
    const std::lock_guard lock(sinkMutex());
    return currentSink();
}

void write(Level level, std::string_view category, std::string_view line) {
    // The sink is called outside the lock: it may take its time, and a sink
    // being replaced meanwhile stays alive until this line is out.
    sink()->write(level, category, line);
}

void log(Level level, std::string_view category, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string line(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(line.data(), line.size() + 1, format, args);
    va_end(args);
    write(level, category, line);
}

} // namespace velmarin::logging
