#pragma once

// Leaves windows of ours (the annotation overlay) out of X11 grabs. The
// root window's pixels are what the screen shows, overlay included, so the
// part of the grab that an excluded window covers is grabbed a second time
// with that window's bounding shape emptied for the instant of the grab,
// and its shape put back right after. For what lies beneath to be there at
// once, without waiting for its clients to repaint, the top-level windows
// are redirected (Composite, automatic mode: the server keeps each one's
// pixels and composes the screen itself) while windows are excluded.
// Under a compositing manager the screen changes only once the manager has
// repainted it, so there the overlay may still show in the picture.
//
// setWindows() from any thread; patch() on the capture thread.

#include "capture/CaptureGeometry.h"
#include "capture/ShmGrabber.h"

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace velmarin::capture {

class X11WindowExclusion {
public:
    X11WindowExclusion(xcb_connection_t* connection, xcb_window_t root);
    // Lifts the redirection (closing the connection would too).
    ~X11WindowExclusion();

    // Needs the SHAPE extension.
    bool available() const { return m_hasShape; }
    void setWindows(std::vector<std::uint32_t> windowIds);

    // `pixels` hold the grab of `area` (tightly packed 32-bit rows): where an
    // excluded, mapped window lies over it, they are replaced by what lies
    // beneath the window.
    void patch(std::uint8_t* pixels, const protocol::PixelRect& area);

private:
    void redirect(bool on);
    void patchWindow(xcb_window_t window, std::uint8_t* pixels, const protocol::PixelRect& area);

    xcb_connection_t* m_connection;
    xcb_window_t m_root;
    bool m_hasShape = false;
    bool m_hasComposite = false;
    bool m_redirected = false; // capture thread
    std::mutex m_mutex;
    std::vector<std::uint32_t> m_windows;
    std::unique_ptr<ShmGrabber> m_grabber; // capture thread
    std::size_t m_grabberBytes = 0;
};

} // namespace velmarin::capture
