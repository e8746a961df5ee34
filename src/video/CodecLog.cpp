#include "video/CodecLog.h"

#include "log/LogSink.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string_view>

namespace velmarin::video {
namespace {

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
    logging::log(logging::Level::debug, category, "libav: %.*s", static_cast<int>(text.size()), text.data());
}

} // namespace

void routeCodecLogs() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(codecLogCallback); });
}

} // namespace velmarin::video
