#include "capture/HostScreenCapture.h"

#include <QPromise>
#include <qcoro/qcorofuture.h>

#include <pthread.h>

namespace velmarin::capture {

HostScreenCapture::HostScreenCapture(ScreenCaptureManager::Options options)
    : m_manager(std::move(options)) {
    // Set before the control thread exists; the handler itself changes here.
    m_manager.setOnEncodedFrame([this](protocol::Bytes message) {
        const std::lock_guard lock(m_handlerMutex);
        if (m_onEncodedFrame)
            m_onEncodedFrame(std::move(message));
    });
    m_manager.setOnStopped([this] {
        const std::lock_guard lock(m_handlerMutex);
        if (m_onStopped)
            m_onStopped();
    });
    // One thread that never expires: the operations run strictly in order.
    m_control.setMaxThreadCount(1);
    m_control.setExpiryTimeout(-1);
}

HostScreenCapture::~HostScreenCapture() {
    onControlThread([this] { m_manager.stopCapture(); });
    m_control.waitForDone();
}

template <typename Work>
QFuture<std::invoke_result_t<Work&>> HostScreenCapture::onControlThread(Work work) {
    using Result = std::invoke_result_t<Work&>;
    auto promise = std::make_shared<QPromise<Result>>();
    QFuture<Result> future = promise->future();
    promise->start();
    m_control.start([this, promise, work = std::move(work)]() mutable {
        pthread_setname_np(pthread_self(), "capture-ctl");
        // Every promise gets its result: an awaiting coroutine reads it.
        if constexpr (std::is_void_v<Result>) {
            work();
        } else {
            promise->addResult(work());
        }
        publish();
        promise->finish();
    });
    return future;
}

void HostScreenCapture::publish() {
    auto monitors = m_manager.monitors();
    std::optional<ScreenInfo> screen;
    if (const auto info = m_manager.screenInfo())
        screen = ScreenInfo{
            .width = info->width, .height = info->height, .scaleFactor = info->scaleFactor};
    const std::lock_guard lock(m_publishedMutex);
    m_monitors = std::move(monitors);
    m_screenInfo = screen;
}

// The coroutines below touch nothing of `this` after their co_await: the
// capture may be gone by the time they resume.

QCoro::Task<Expected<void, CaptureFailure>> HostScreenCapture::startCapture() {
    co_return co_await onControlThread([this]() -> Expected<void, CaptureFailure> {
        const auto started = m_manager.startCapture();
        if (started)
            return {};
        const StartError& error = started.error();
        CaptureFailure failure{.description = QString::fromStdString(error.description())};
        if (const auto* capture = std::get_if<CaptureError>(&error.reason))
            failure.kind = capture->kind == CaptureError::Kind::noDisplay
                               ? CaptureFailure::Kind::noDisplay
                               : CaptureFailure::Kind::notPermitted;
        else
            failure.kind = CaptureFailure::Kind::encoder;
        return unexpected(std::move(failure));
    });
}

QCoro::Task<void> HostScreenCapture::stopCapture() {
    co_await onControlThread([this] { m_manager.stopCapture(); });
}

QCoro::Task<void> HostScreenCapture::refreshDisplays() {
    co_await onControlThread([this] { m_manager.refreshDisplays(); });
}

std::vector<protocol::MonitorInfo> HostScreenCapture::monitors() const {
    const std::lock_guard lock(m_publishedMutex);
    return m_monitors;
}

std::optional<ScreenInfo> HostScreenCapture::screenInfo() const {
    const std::lock_guard lock(m_publishedMutex);
    return m_screenInfo;
}

QCoro::Task<void> HostScreenCapture::selectMonitor(std::int64_t id) {
    co_await onControlThread([this, id] { m_manager.selectMonitor(id); });
}

void HostScreenCapture::updateQuality(std::int64_t bitrate, int fps) {
    onControlThread([this, bitrate, fps] { m_manager.updateQuality(bitrate, fps); });
}

void HostScreenCapture::setExcludedWindowIds(std::vector<std::uint32_t> ids) {
    onControlThread([this, ids = std::move(ids)] { m_manager.setExcludedWindowIds(ids); });
}

void HostScreenCapture::setOnEncodedFrame(EncodedFrameHandler handler) {
    const std::lock_guard lock(m_handlerMutex);
    m_onEncodedFrame = std::move(handler);
}

void HostScreenCapture::setOnStopped(std::function<void()> handler) {
    const std::lock_guard lock(m_handlerMutex);
    m_onStopped = std::move(handler);
}

void HostScreenCapture::forceNextKeyframe() {
    m_manager.forceNextKeyframe();
}

} // namespace velmarin::capture
