#pragma once

// Collects what a ScreenCaptureManager sends and decodes it with the real
// decoder, so tests can look at the pixels that would reach a Viewer.

#include "capture/ScreenCaptureManager.h"
#include "video/H264Decoder.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace velmarin::testing {

// Capture options whose source is the X11 backend on `display` (":N").
capture::ScreenCaptureManager::Options captureOptionsOn(const std::string& display);

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
};

class CaptureProbe {
public:
    // Installs itself as the manager's frame callback.
    explicit CaptureProbe(capture::ScreenCaptureManager& manager);
    ~CaptureProbe() { m_manager.setOnEncodedFrame({}); }

    std::size_t frameCount() const;
    std::size_t keyframeCount() const;
    // Waits until more than `count` frames arrived.
    bool waitForFrames(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Waits for a key frame after the first `count` frames.
    bool waitForKeyframeAfter(std::size_t count,
                              std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // Decodes the frames from the newest key frame on and returns the last
    // picture.
    video::Picture latestPicture() const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_arrived;
    std::vector<protocol::Bytes> m_frames;
    std::vector<std::size_t> m_keyframes; // indexes into m_frames
    capture::ScreenCaptureManager& m_manager;
};

// The colour at (x, y) of a decoded 4:2:0 picture (BT.601, limited range).
Rgb colourAt(const video::Picture& picture, int x, int y);

// Within `tolerance` on each channel of 0xRRGGBB.
bool near(const Rgb& colour, std::uint32_t rgb, int tolerance = 16);

} // namespace velmarin::testing
