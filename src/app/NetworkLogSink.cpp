#include "app/NetworkLogSink.h"

#include "interfaces/Log.h"

namespace velmarin {

void NetworkLogSink::write(transport::LogLevel level, std::string_view line) {
    const QByteArray text(line.data(), static_cast<qsizetype>(line.size()));
    switch (level) {
    case transport::LogLevel::debug:
        qCDebug(Log::network, "%s", text.constData());
        break;
    case transport::LogLevel::info:
        qCInfo(Log::network, "%s", text.constData());
        break;
    case transport::LogLevel::warning:
        qCWarning(Log::network, "%s", text.constData());
        break;
    case transport::LogLevel::error:
        qCCritical(Log::network, "%s", text.constData());
        break;
    }
}

std::shared_ptr<transport::LogSink> networkLogSink() {
    static const auto sink = std::make_shared<NetworkLogSink>();
    return sink;
}

} // namespace velmarin
