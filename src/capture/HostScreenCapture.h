#pragma once

// The coordinator's capture component: a ScreenCaptureManager behind the
// HostCapture interface. The coordinator makes one per hosting session.
//
// Threads: called on the GUI thread, except forceNextKeyframe (any thread).
// Opening the X connection and the encoder and joining the capture thread
// take tens of milliseconds, so every operation on the manager runs on this
// object's own "capture-ctl" thread, one after the other in the order they
// were asked for; the tasks complete when their operation has. monitors()
// and screenInfo() answer from a copy taken after each operation.
// setOnEncodedFrame takes effect at once: the previous handler is not called
// after it returns, so the caller may release what that handler used.

#include "interfaces/SessionComponents.h"
#include "capture/ScreenCaptureManager.h"

#include <QFuture>
#include <QThreadPool>

#include <mutex>
#include <type_traits>

namespace velmarin::capture {

class HostScreenCapture final : public HostCapture {
public:
    explicit HostScreenCapture(ScreenCaptureManager::Options options = {});
    // Waits for the queued operations and stops capture; blocks for as long
    // as a stop takes when nobody awaited stopCapture before.
    ~HostScreenCapture() override;
    HostScreenCapture(const HostScreenCapture&) = delete;
    HostScreenCapture& operator=(const HostScreenCapture&) = delete;

    QCoro::Task<Expected<void, CaptureFailure>> startCapture() override;
    QCoro::Task<void> stopCapture() override;
    QCoro::Task<void> refreshDisplays() override;
    std::vector<protocol::MonitorInfo> monitors() const override;
    std::optional<ScreenInfo> screenInfo() const override;
    QCoro::Task<void> selectMonitor(std::int64_t id) override;
    void updateQuality(std::int64_t bitrate, int fps) override;
    void setExcludedWindowIds(std::vector<std::uint32_t> ids) override;
    void setOnEncodedFrame(EncodedFrameHandler handler) override;
    void setOnStopped(std::function<void()> handler) override;
    void forceNextKeyframe() override;

private:
    // Queues `work` on the control thread; the future finishes after it ran
    // and the copies for monitors() and screenInfo() were refreshed.
    template <typename Work> QFuture<std::invoke_result_t<Work&>> onControlThread(Work work);
    // Control thread.
    void publish();

    // Held while a frame is handed to the handler (capture thread);
    // declared before the manager, which may still deliver while it stops.
    std::mutex m_handlerMutex;
    EncodedFrameHandler m_onEncodedFrame;
    std::function<void()> m_onStopped;

    ScreenCaptureManager m_manager; // control thread only, but forceNextKeyframe

    mutable std::mutex m_publishedMutex;
    std::vector<protocol::MonitorInfo> m_monitors;
    std::optional<ScreenInfo> m_screenInfo;

    // Last member: destroyed first, so the queue has drained before the
    // manager goes.
    QThreadPool m_control;
};

} // namespace velmarin::capture
