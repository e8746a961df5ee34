#pragma once

// Takes every decoded picture on the decode thread: counts frames per second,
// makes the first-frame thumbnail once per viewing session and hands the
// picture to the display bridge on the GUI thread. The picture itself is not
// copied or converted here: the display converts YUV to RGB while drawing.

#include "interfaces/SessionComponents.h"
#include "ui/viewer/RemoteDisplayBridge.h"
#include "video/playback/FrameRateMeter.h"

#include <atomic>
#include <cstdint>

namespace velmarin::ui {

class VideoRenderer : public VideoDisplay {
public:
    // `bridge` outlives the renderer.
    explicit VideoRenderer(RemoteDisplayBridge& bridge, video::FrameRateMeter::Clock clock = {});

    // Called on the decode thread, one call at a time.
    void render(const video::Picture& picture) override;
    // GUI thread: the next session reports its first frame again; the bridge
    // forgets the session's views and picture.
    void resetSession() override;

    std::uint64_t frameCount() const { return m_frameCount.load(); }
    bool capturedFirstFrame() const { return m_capturedFirstFrame.load(); }

private:
    RemoteDisplayBridge& m_bridge;
    video::FrameRateMeter m_frameRate; // decode thread only
    std::atomic<std::uint64_t> m_frameCount{0};
    std::atomic<bool> m_capturedFirstFrame{false};
};

} // namespace velmarin::ui
