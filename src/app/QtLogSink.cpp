#include "app/QtLogSink.h"

#include "interfaces/Log.h"

namespace velmarin {
namespace {

const QLoggingCategory& categoryFor(std::string_view name) {
    if (name == "encoding")
        return Log::encoding();
    if (name == "decoding")
        return Log::decoding();
    if (name == "network")
        return Log::network();
    if (name == "input")
        return Log::input();
    if (name == "permissions")
        return Log::permissions();
    return Log::capture();
}

} // namespace

void QtLogSink::write(logging::Level level, std::string_view category, std::string_view line) {
    const QLoggingCategory& target = categoryFor(category);
    const QByteArray text(line.data(), static_cast<qsizetype>(line.size()));
    switch (level) {
    case logging::Level::debug:
        qCDebug(target, "%s", text.constData());
        break;
    case logging::Level::info:
        qCInfo(target, "%s", text.constData());
        break;
    case logging::Level::warning:
        qCWarning(target, "%s", text.constData());
        break;
    case logging::Level::error:
        qCCritical(target, "%s", text.constData());
        break;
    }
}

std::shared_ptr<logging::Sink> qtLogSink() {
    static const auto sink = std::make_shared<QtLogSink>();
    return sink;
}

void routeLogsToQt() {
    logging::setSink(qtLogSink());
}

} // namespace velmarin
