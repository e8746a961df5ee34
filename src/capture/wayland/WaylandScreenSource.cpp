#include "capture/wayland/WaylandScreenSource.h"

#include "log/LogSink.h"
#include "wayland/RemoteDesktopSession.h"

namespace velmarin::capture {

namespace {
// Mutter sends the first frame as soon as the stream runs.
constexpr auto firstFrameTimeout = std::chrono::seconds(2);
} // namespace

Expected<std::unique_ptr<WaylandScreenSource>, CaptureError>
WaylandScreenSource::open(std::shared_ptr<wayland::RemoteDesktopSession> session) {
    auto stream = PipeWireStream::open(session->pipeWireNode(), session->takePipeWireRemote());
    if (!stream) {
        logging::log(logging::Level::warning, "capture", "%s", stream.error().c_str());
        return unexpected(CaptureError{CaptureError::Kind::captureNotAvailable});
    }
    return std::unique_ptr<WaylandScreenSource>(
        new WaylandScreenSource(std::move(session), std::move(*stream)));
}

WaylandScreenSource::WaylandScreenSource(std::shared_ptr<wayland::RemoteDesktopSession> session,
                                         std::unique_ptr<PipeWireStream> stream)
    : m_session(std::move(session))
    , m_stream(std::move(stream)) {}

bool WaylandScreenSource::casting() const {
    return m_stream->healthy() && m_session->alive();
}

std::vector<DisplayInfo> WaylandScreenSource::displays() {
    if (!casting())
        return {};
    DisplayInfo display;
    display.id = displayId;
    display.frame = {0, 0, m_stream->width(), m_stream->height()};
    display.primary = true;
    return {display};
}

Expected<void, CaptureError> WaylandScreenSource::start(const DisplayInfo& display) {
    stop();
    if (display.id != displayId || !casting())
        return unexpected(CaptureError{CaptureError::Kind::noDisplay});
    m_started = true;
    m_dirty = true; // the first grab always goes out
    return {};
}

void WaylandScreenSource::stop() {
    m_started = false;
}

bool WaylandScreenSource::waitForChange(std::chrono::steady_clock::time_point deadline) {
    if (m_started && m_dirty)
        return true;
    return m_stream->waitForFrame(deadline) && m_started;
}

void WaylandScreenSource::wake() {
    m_stream->wake();
}

Expected<BgraImage, CaptureError> WaylandScreenSource::grab() {
    if (!m_started || !casting())
        return unexpected(CaptureError{CaptureError::Kind::captureNotAvailable});
    // Before the first frame of all has come there is nothing to show yet.
    if (!m_stream->takeNewest(m_frame) && m_frame.pixels.empty() &&
        m_stream->waitForFrame(std::chrono::steady_clock::now() + firstFrameTimeout))
        m_stream->takeNewest(m_frame);
    if (m_frame.pixels.empty())
        return unexpected(CaptureError{CaptureError::Kind::captureNotAvailable});
    m_dirty = false;
    return BgraImage{m_frame.pixels.data(), m_frame.width, m_frame.height, m_frame.width * 4};
}

} // namespace velmarin::capture
