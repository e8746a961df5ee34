#include "program/VideoReceiveStats.h"

#include "protocol/VideoFrame.h"

#include <algorithm>

namespace velmarin {

VideoReceiveStats::VideoReceiveStats(Clock::time_point start)
    : m_start(start)
    , m_intervalStart(start) {}

void VideoReceiveStats::record(const std::vector<std::uint8_t>& message) {
    const auto frame = protocol::parseFrame(message);
    // Messages that are no frame are counted as bytes only: they arrived.
    const std::uint64_t isFrame = frame ? 1 : 0;
    const std::uint64_t isKeyframe = frame && frame->isKeyframe ? 1 : 0;
    for (Counts* counts : {&m_interval, &m_total}) {
        counts->frames += isFrame;
        counts->keyframes += isKeyframe;
        counts->bytes += message.size();
    }
}

QString VideoReceiveStats::describe(const Counts& counts, double seconds) {
    seconds = std::max(seconds, 1e-3);
    return QStringLiteral("%1 beelden/s, %2 kB/s, %3 sleutelbeelden")
        .arg(static_cast<double>(counts.frames) / seconds, 0, 'f', 1)
        .arg(static_cast<double>(counts.bytes) / 1000.0 / seconds, 0, 'f', 1)
        .arg(counts.keyframes);
}

QString VideoReceiveStats::takeReport(Clock::time_point now) {
    const std::chrono::duration<double> elapsed = now - m_intervalStart;
    const QString report = QStringLiteral("Video: ") + describe(m_interval, elapsed.count());
    m_interval = {};
    m_intervalStart = now;
    return report;
}

QString VideoReceiveStats::summary(Clock::time_point now) const {
    const std::chrono::duration<double> elapsed = now - m_start;
    return QStringLiteral("Video in totaal: %1 beelden in %2 s, ")
               .arg(m_total.frames)
               .arg(elapsed.count(), 0, 'f', 1) +
           describe(m_total, elapsed.count());
}

} // namespace velmarin
