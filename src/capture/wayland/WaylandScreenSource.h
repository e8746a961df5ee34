#pragma once

// Screen capture in a Wayland session: the compositor casts one monitor into
// a PipeWire stream (a RemoteDesktopSession) and PipeWireStream receives it.
// The stream is the one display; it changes only when the compositor sends a
// frame, which it does only when the picture (or the pointer drawn into it)
// changed.
//
// Windows cannot be left out of the picture. When the compositor goes away the
// display list becomes empty and grabs fail.

#include "capture/ScreenSource.h"
#include "capture/wayland/PipeWireStream.h"

#include <memory>

namespace velmarin::wayland {
class RemoteDesktopSession;
}

namespace velmarin::capture {

class WaylandScreenSource final : public ScreenSource {
public:
    // Receives the screen cast of `session`, which it keeps alive.
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

    // The ID of the one display.
    static constexpr std::int64_t displayId = 1;

private:
    WaylandScreenSource(std::shared_ptr<wayland::RemoteDesktopSession> session,
                        std::unique_ptr<PipeWireStream> stream);
    // False once mutter ended the session or the stream failed.
    bool casting() const;

    std::shared_ptr<wayland::RemoteDesktopSession> m_session;
    std::unique_ptr<PipeWireStream> m_stream;
    // Capture thread only.
    bool m_started = false;
    bool m_dirty = false;
    PipeWireFrame m_frame;
};

} // namespace velmarin::capture
