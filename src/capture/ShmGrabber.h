#pragma once

// Copies a rectangle of the root window into memory of ours: through a
// MIT-SHM segment (mode 0600, removed as soon as the server has attached
// it, so nothing is left behind even after a crash), or with a plain
// GetImage where the server cannot share memory with us (a remote display).
// Capture thread only.

#include "capture/CaptureGeometry.h"
#include "capture/XcbHandles.h"

#include <xcb/shm.h>

#include <cstdint>
#include <vector>

namespace velmarin::capture {

class ShmGrabber {
public:
    // Sized for rectangles of up to `maxBytes` (4 bytes per pixel).
    ShmGrabber(xcb_connection_t* connection, xcb_window_t root, std::size_t maxBytes);
    ~ShmGrabber();
    ShmGrabber(const ShmGrabber&) = delete;
    ShmGrabber& operator=(const ShmGrabber&) = delete;

    bool usesSharedMemory() const { return m_segment != 0; }

    // The pixels of `rect` (32 bits each, tightly packed rows) or null when
    // the server refused. Valid until the next grab.
    std::uint8_t* grab(const protocol::PixelRect& rect);
    // The same from another drawable (a window), `rect` in its coordinates.
    std::uint8_t* grab(const protocol::PixelRect& rect, xcb_drawable_t drawable);

private:
    bool attach(std::size_t bytes);

    xcb_connection_t* m_connection;
    xcb_window_t m_root;
    xcb_shm_seg_t m_segment = 0;
    std::uint8_t* m_shared = nullptr;
    std::size_t m_sharedBytes = 0;
    std::vector<std::uint8_t> m_copy; // without shared memory
};

} // namespace velmarin::capture
