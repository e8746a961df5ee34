#pragma once

// Screen capture in a Wayland session: the compositor casts each monitor into
// a PipeWire stream (a RemoteDesktopSession) and PipeWireStream receives the
// one of the started display; switching displays switches streams. A display
// changes only when the compositor sends a frame, which it does only when the
// picture (or the pointer drawn into it) changed.
//
// Windows cannot be left out of the picture. When the compositor goes away the
// display list becomes empty and grabs fail.

#include "capture/ScreenSource.h"
#include "capture/wayland/PipeWireStream.h"

#include <memory>
#include <mutex>

namespace velmarin::wayland {
class RemoteDesktopSession;
}

namespace velmarin::capture {

class WaylandScreenSource final : public ScreenSource {
public:
    // Receives the screen cast of `session` (its primary monitor until
    // another is started), which it keeps alive.
    static Expected<std::unique_ptr<WaylandScreenSource>, CaptureError>
    open(std::shared_ptr<wayland::RemoteDesktopSession> session);

    std::vector<DisplayInfo> displays() override;
    Expected<void, CaptureError> start(const DisplayInfo& display) override;
    void stop() override;
    bool waitForChange(std::chrono::steady_clock::time_point deadline) override;
    void wake() override;
    Expected<BgraImage, CaptureError> grab() override;
    bool lost() const override { return !casting(); }
    bool canExcludeWindows() const override { return false; }
    void setExcludedWindows(std::vector<std::uint32_t>) override {}

private:
    WaylandScreenSource(std::shared_ptr<wayland::RemoteDesktopSession> session,
                        std::uint32_t node, std::unique_ptr<PipeWireStream> stream);
    // False once mutter ended the session or the stream failed.
    bool casting() const;

    std::shared_ptr<wayland::RemoteDesktopSession> m_session;
    // The stream of the monitor cast to m_node. Replaced on the capture
    // thread; wake() may come from any thread, so the pointer is guarded.
    std::uint32_t m_node = 0;
    std::shared_ptr<PipeWireStream> m_stream;
    mutable std::mutex m_streamMutex;
    // Capture thread only.
    bool m_started = false;
    bool m_dirty = false;
    PipeWireFrame m_frame;
};

} // namespace velmarin::capture
