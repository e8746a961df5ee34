#include "relay/log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

namespace velmarin::relay {
namespace {

std::mutex log_mutex;
std::atomic<bool> session_logging{true};

} // namespace

void log_line(std::string_view text) {
    const auto now = std::chrono::system_clock::now();
    const auto seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    const auto length = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    std::string line(stamp, length);
    line += '.';
    line += static_cast<char>('0' + millis / 100);
    line += static_cast<char>('0' + millis / 10 % 10);
    line += static_cast<char>('0' + millis % 10);
    line += "Z ";
    line += text;
    line += '\n';
    const std::lock_guard lock(log_mutex);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void log_session(std::string_view text) {
    if (session_logging.load(std::memory_order_relaxed))
        log_line(text);
}

void set_session_logging(bool enabled) {
    session_logging.store(enabled);
}

} // namespace velmarin::relay
