#include "video/VideoLog.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace velmarin::video {
namespace {

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

LogSink& currentSink() {
    static LogSink sink;
    return sink;
}

void defaultSink(LogLevel level, std::string_view category, std::string_view message) {
    if (level < LogLevel::warning)
        return;
    std::fprintf(stderr, "com.tessamund.velmarin.%.*s: %.*s\n", static_cast<int>(category.size()),
                 category.data(), static_cast<int>(message.size()), message.data());
}

void codecLogCallback(void* context, int level, const char* format, std::va_list args) {
    if (level > AV_LOG_WARNING)
        return;
    char line[512];
    int printPrefix = 1;
    av_log_format_line2(context, level, format, args, line, sizeof line, &printPrefix);
    std::string_view text(line);
    while (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    if (text.empty())
        return;
    // Messages from an encoder's context belong to "encoding", the rest come
    // from decoding.
    const char* category = "decoding";
    const auto* avClass = context ? *static_cast<const AVClass* const*>(context) : nullptr;
    if (avClass && std::strcmp(avClass->class_name, "AVCodecContext") == 0) {
        const auto* codecContext = static_cast<const AVCodecContext*>(context);
        if (codecContext->codec && av_codec_is_encoder(codecContext->codec))
            category = "encoding";
    }
    log(LogLevel::debug, category, "libav: %.*s", static_cast<int>(text.size()), text.data());
}

} // namespace

void routeCodecLogs() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(codecLogCallback); });
}

void setLogSink(LogSink sink) {
    const std::lock_guard lock(sinkMutex());
    currentSink() = std::move(sink);
}

void log(LogLevel level, std::string_view category, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string message(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(message.data(), message.size() + 1, format, args);
    va_end(args);

    LogSink sink;
    {
        const std::lock_guard lock(sinkMutex());
        sink = currentSink();
    }
    if (sink)
        sink(level, category, message);
    else
        defaultSink(level, category, message);
}

} // namespace velmarin::video
