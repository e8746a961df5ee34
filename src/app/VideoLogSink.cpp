#include "app/VideoLogSink.h"

#include "interfaces/Log.h"
#include "video/VideoLog.h"

namespace velmarin {
namespace {

const QLoggingCategory& categoryFor(std::string_view name) {
    if (name == "encoding")
        return Log::encoding();
    if (name == "decoding")
        return Log::decoding();
    if (name == "network")
        return Log::network();
    return Log::capture();
}

} // namespace

void routeVideoLogs() {
    // Called on the capture, encoder, decoder and recording threads;
    // QLoggingCategory and the message handler are thread-safe.
    video::setLogSink(
        [](video::LogLevel level, std::string_view category, std::string_view message) {
            const QLoggingCategory& target = categoryFor(category);
            const QByteArray text(message.data(), static_cast<qsizetype>(message.size()));
            switch (level) {
            case video::LogLevel::debug:
                qCDebug(target, "%s", text.constData());
                break;
            case video::LogLevel::info:
                qCInfo(target, "%s", text.constData());
                break;
            case video::LogLevel::warning:
                qCWarning(target, "%s", text.constData());
                break;
            case video::LogLevel::error:
                qCCritical(target, "%s", text.constData());
                break;
            }
        });
}

} // namespace velmarin
