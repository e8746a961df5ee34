#pragma once

// The coordinator's capture component: a ScreenCaptureManager behind the
// HostCapture interface. The coordinator makes one per hosting session.
// GUI thread, except forceNextKeyframe.

#include "interfaces/SessionComponents.h"
#include "capture/ScreenCaptureManager.h"

namespace velmarin::capture {

class HostScreenCapture final : public HostCapture {
public:
    explicit HostScreenCapture(ScreenCaptureManager::Options options = {});

    QCoro::Task<std::optional<QString>> startCapture() override;
    QCoro::Task<void> stopCapture() override;
    QCoro::Task<void> refreshDisplays() override;
    std::vector<protocol::MonitorInfo> monitors() const override;
    std::optional<ScreenInfo> screenInfo() const override;
    QCoro::Task<void> selectMonitor(std::int64_t id) override;
    void updateQuality(std::int64_t bitrate, int fps) override;
    void setExcludedWindowIds(std::vector<std::uint32_t> ids) override;
    void setOnEncodedFrame(EncodedFrameHandler handler) override;
    void forceNextKeyframe() override;

    ScreenCaptureManager& manager() { return m_manager; }

private:
    // X requests and the encoder's set-up take milliseconds; they run on the
    // calling thread, which keeps the order of operations obvious.
    ScreenCaptureManager m_manager;
};

} // namespace velmarin::capture
