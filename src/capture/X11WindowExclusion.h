#pragma once

// Leaves windows of ours (the annotation overlay) out of X11 grabs. The
// root window's pixels are what the screen shows, overlay included, so
// where an excluded window lies the grab is painted over again with the
// windows stacked beneath it, read from their own pixels. For those to
// exist behind the overlay, the top-level windows are redirected while
// windows are excluded (Composite, automatic mode: the server keeps each
// window's pixels and composes the screen itself, so the user sees no
// difference); under a compositing manager they are redirected already.
// The overlay itself is never touched: no flicker for the Host's user.
//
// Where no window lies beneath, the desktop's wallpaper is taken from the
// pixmap the desktop publishes on the root window (_XROOTPMAP_ID). What is
// not reproduced: a background drawn without such a pixmap (the grab keeps
// the overlay there), translucency and shapes of the windows beneath.
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

    // Needs the Composite extension.
    bool available() const { return m_hasComposite; }
    void setWindows(std::vector<std::uint32_t> windowIds);

    // `pixels` hold the grab of `area` (tightly packed 32-bit rows): where an
    // excluded, mapped window lies over it, they are replaced by the
    // windows beneath it.
    void patch(std::uint8_t* pixels, const protocol::PixelRect& area);

private:
    void redirect(bool on);
    void patchWindow(xcb_window_t window, std::uint8_t* pixels, const protocol::PixelRect& area);
    // `drawableRect`: where the window or pixmap lies, root coordinates.
    void copyFrom(xcb_drawable_t drawable, const protocol::PixelRect& drawableRect,
                  const protocol::PixelRect& part, std::uint8_t* pixels,
                  const protocol::PixelRect& area);

    xcb_connection_t* m_connection;
    xcb_window_t m_root;
    bool m_hasShape = false;
    bool m_hasComposite = false;
    bool m_redirected = false; // capture thread
    xcb_atom_t m_wallpaperAtom = XCB_ATOM_NONE;
    std::mutex m_mutex;
    std::vector<std::uint32_t> m_windows;
    std::unique_ptr<ShmGrabber> m_grabber; // capture thread
    std::size_t m_grabberBytes = 0;
};

} // namespace velmarin::capture
