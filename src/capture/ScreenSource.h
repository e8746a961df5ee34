#pragma once

// The platform side of screen capture: which displays there are, and grabs
// of one of them with the pointer drawn in. One backend per display system
// (X11 now; a PipeWire backend for Wayland later), chosen by
// makeScreenSource(). ScreenCaptureManager drives it.
//
// Threads: displays(), wake() and the window exclusion may be called from
// any thread; start(), stop(), waitForChange() and grab() belong to the
// capture thread.

#include "capture/CaptureError.h"
#include "common/Expected.h"
#include "capture/CaptureGeometry.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmarin::capture {

struct DisplayInfo {
    // Stable for the life of the source: the same monitor keeps its ID when
    // others come and go.
    std::int64_t id = 0;
    protocol::PixelRect frame;
    bool primary = false;
    // Device pixels per logical pixel.
    double scaleFactor = 1.0;
    bool operator==(const DisplayInfo&) const = default;
};

// Pixels in memory order B, G, R, X (32 bits each); valid until the next
// grab or stop.
struct BgraImage {
    const std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0; // bytes per row
};

class ScreenSource {
public:
    virtual ~ScreenSource() = default;

    // The displays attached now, in the platform's order; empty when the
    // query fails.
    virtual std::vector<DisplayInfo> displays() = 0;

    // Prepares grabs of `display` (stopping an earlier start).
    virtual Expected<void, CaptureError> start(const DisplayInfo& display) = 0;
    virtual void stop() = 0;

    // Blocks until the display's picture (or the pointer over it) may have
    // changed since the last grab, until `deadline`, or until wake(). True
    // when something changed.
    virtual bool waitForChange(std::chrono::steady_clock::time_point deadline) = 0;
    // Ends a waitForChange early.
    virtual void wake() = 0;

    // The started display's pixels with the pointer composited in.
    virtual Expected<BgraImage, CaptureError> grab() = 0;

    // The display went away for good (the compositor ended the cast): the
    // capture stops instead of waiting for a picture that cannot come.
    virtual bool lost() const { return false; }

    // Windows (platform window IDs) to leave out of the picture. A backend
    // that cannot do it says so with `canExcludeWindows`; the windows are
    // then captured like any other.
    virtual bool canExcludeWindows() const = 0;
    virtual void setExcludedWindows(std::vector<std::uint32_t> windowIds) = 0;
};

// The backend for the session this process runs in: X11 on DISPLAY.
Expected<std::unique_ptr<ScreenSource>, CaptureError> makeScreenSource();

} // namespace velmarin::capture
