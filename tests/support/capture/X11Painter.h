#pragma once

// Draws known content on a test X server and shapes its monitors: solid
// rectangles on the root window, RandR monitors (which live as long as this
// connection), and pointer moves.

#include "support/x11/RandrMonitor.h"

#include <xcb/xcb.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace velmarin::testing {

class X11Painter {
public:
    explicit X11Painter(const std::string& display);
    ~X11Painter() {
        xcb_free_gc(m_connection, m_gc);
        xcb_disconnect(m_connection);
    }
    X11Painter(const X11Painter&) = delete;
    X11Painter& operator=(const X11Painter&) = delete;

    // `rgb` is 0xRRGGBB. Returns once the server has drawn it.
    void fill(int x, int y, int width, int height, std::uint32_t rgb);
    // Defines (or replaces) the RandR monitor `name`.
    void setMonitor(const std::string& name, int x, int y, int width, int height, bool primary) {
        setRandrMonitor(m_connection, name, x, y, width, height, primary);
    }
    void movePointer(int x, int y);
    void sync();

private:
    xcb_connection_t* m_connection;
    xcb_window_t m_root;
    std::uint32_t m_gc;
};

// Keeps a screen changing from a thread of its own until destroyed: calls
// `step(painter, 0)`, `step(painter, 1)`, … (`step` paces itself).
class ScreenAnimation {
public:
    ScreenAnimation(const std::string& display, std::function<void(X11Painter&, int)> step);
    ~ScreenAnimation() {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace velmarin::testing
