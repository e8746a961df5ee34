#include "capture/HostScreenCapture.h"

namespace velmarin::capture {

HostScreenCapture::HostScreenCapture(ScreenCaptureManager::Options options)
    : m_manager(std::move(options)) {}

QCoro::Task<std::optional<QString>> HostScreenCapture::startCapture() {
    if (const auto error = m_manager.startCapture())
        co_return QString::fromStdString(error->description());
    co_return std::nullopt;
}

QCoro::Task<void> HostScreenCapture::stopCapture() {
    m_manager.stopCapture();
    co_return;
}

QCoro::Task<void> HostScreenCapture::refreshDisplays() {
    m_manager.refreshDisplays();
    co_return;
}

std::vector<protocol::MonitorInfo> HostScreenCapture::monitors() const {
    return m_manager.monitors();
}

std::optional<ScreenInfo> HostScreenCapture::screenInfo() const {
    const auto info = m_manager.screenInfo();
    if (!info)
        return std::nullopt;
    return ScreenInfo{
        .width = info->width, .height = info->height, .scaleFactor = info->scaleFactor};
}

QCoro::Task<void> HostScreenCapture::selectMonitor(std::int64_t id) {
    m_manager.selectMonitor(id);
    co_return;
}

void HostScreenCapture::updateQuality(std::int64_t bitrate, int fps) {
    m_manager.updateQuality(bitrate, fps);
}

void HostScreenCapture::setExcludedWindowIds(std::vector<std::uint32_t> ids) {
    m_manager.setExcludedWindowIds(std::move(ids));
}

void HostScreenCapture::setOnEncodedFrame(EncodedFrameHandler handler) {
    m_manager.setOnEncodedFrame(std::move(handler));
}

void HostScreenCapture::forceNextKeyframe() {
    m_manager.forceNextKeyframe();
}

} // namespace velmarin::capture
