#include "capture/wayland/WaylandScreenSource.h"

#include "log/LogSink.h"
#include "wayland/RemoteDesktopSession.h"

#include <algorithm>

namespace velmarin::capture {

namespace {

// Mutter sends the first frame as soon as the stream runs.
constexpr auto firstFrameTimeout = std::chrono::seconds(2);

Expected<std::unique_ptr<PipeWireStream>, CaptureError>
openStream(wayland::RemoteDesktopSession& session, std::uint32_t node) {
    auto stream = PipeWireStream::open(node, session.takePipeWireRemote());
    if (!stream) {
        logging::log(logging::Level::warning, "capture", "%s", stream.error().c_str());
        return unexpected(CaptureError{CaptureError::Kind::captureNotAvailable});
    }
    return std::move(*stream);
}

} // namespace

Expected<std::unique_ptr<WaylandScreenSource>, CaptureError>
WaylandScreenSource::open(std::shared_ptr<wayland::RemoteDesktopSession> session) {
    const std::uint32_t node = session->monitors().front().node;
    auto stream = openStream(*session, node);
    if (!stream)
        return unexpected(stream.error());
    return std::unique_ptr<WaylandScreenSource>(
        new WaylandScreenSource(std::move(session), node, std::move(*stream)));
}

WaylandScreenSource::WaylandScreenSource(std::shared_ptr<wayland::RemoteDesktopSession> session,
                                         std::uint32_t node,
                                         std::unique_ptr<PipeWireStream> stream)
    : m_session(std::move(session))
    , m_node(node)
    , m_stream(std::move(stream)) {}

bool WaylandScreenSource::casting() const {
    return m_stream->healthy() && m_session->alive();
}

std::vector<DisplayInfo> WaylandScreenSource::displays() {
    if (!casting())
        return {};
    std::vector<DisplayInfo> result;
    for (const wayland::CastMonitor& monitor : m_session->monitors()) {
        DisplayInfo display{.id = monitor.node,
                            .frame = {monitor.x, monitor.y, monitor.width, monitor.height},
                            .primary = monitor.primary};
        // The running stream knows its size best (it follows the monitor).
        if (monitor.node == m_node)
            display.frame = {monitor.x, monitor.y, m_stream->width(), m_stream->height()};
        if (!display.frame.isEmpty())
            result.push_back(display);
    }
    return result;
}

Expected<void, CaptureError> WaylandScreenSource::start(const DisplayInfo& display) {
    stop();
    const auto& monitors = m_session->monitors();
    const bool known = std::any_of(monitors.begin(), monitors.end(), [&](const auto& monitor) {
        return monitor.node == display.id;
    });
    if (!known || !casting())
        return unexpected(CaptureError{CaptureError::Kind::noDisplay});
    if (display.id != m_node) {
        auto stream = openStream(*m_session, static_cast<std::uint32_t>(display.id));
        if (!stream)
            return unexpected(stream.error());
        const std::lock_guard lock(m_streamMutex);
        m_stream = std::move(*stream);
        m_node = static_cast<std::uint32_t>(display.id);
        m_frame = {};
    }
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
    std::shared_ptr<PipeWireStream> stream;
    {
        const std::lock_guard lock(m_streamMutex);
        stream = m_stream;
    }
    stream->wake();
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
