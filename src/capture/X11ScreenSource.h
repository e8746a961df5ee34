#pragma once

// Screen capture on an X11 display: RandR 1.5 monitors (the whole root
// window when there are none), grabs through MIT-SHM with the XFixes pointer
// image drawn in, and XDamage to tell whether anything changed, so that an
// unchanged screen costs no grab and no frame.
//
// Windows of ours (the annotation overlay) are left out of the picture by
// X11WindowExclusion.

#include "capture/ScreenSource.h"
#include "capture/ShmGrabber.h"
#include "capture/X11WindowExclusion.h"
#include "capture/XcbHandles.h"

#include <xcb/damage.h>
#include <xcb/xfixes.h>

#include <map>
#include <mutex>
#include <string>

namespace velmarin::capture {

class X11ScreenSource final : public ScreenSource {
public:
    // Connects to `displayName` (DISPLAY when empty) and checks that its
    // pixels can be read: a 24- or 32-bit true-colour screen.
    static Expected<std::unique_ptr<X11ScreenSource>, CaptureError>
    open(const std::string& displayName = {});

    ~X11ScreenSource() override;

    std::vector<DisplayInfo> displays() override;
    Expected<void, CaptureError> start(const DisplayInfo& display) override;
    void stop() override;
    bool waitForChange(std::chrono::steady_clock::time_point deadline) override;
    void wake() override;
    Expected<BgraImage, CaptureError> grab() override;
    bool canExcludeWindows() const override { return m_exclusion.available(); }
    void setExcludedWindows(std::vector<std::uint32_t> windowIds) override;

private:
    X11ScreenSource(XcbConnection connection, xcb_screen_t* screen, int wakeFd);
    void queryExtensions();
    protocol::PixelRect rootRect();
    // Only those XCB has read already when `queuedOnly`.
    void readEvents(bool queuedOnly = false);
    bool damageInsideCapture();
    bool pointerMovedOverCapture();
    void drawPointer(std::uint8_t* pixels);

    XcbConnection m_connection;
    xcb_window_t m_root;
    // The screen's physical width as the server reported it at connection.
    int m_screenWidthMm = 0;
    const int m_wakeFd;
    bool m_hasMonitors = false; // RandR 1.5
    bool m_hasXfixes = false;
    bool m_hasDamage = false;
    std::uint8_t m_damageEvent = 0;
    std::uint8_t m_cursorEvent = 0;

    std::mutex m_displaysMutex;
    // Monitor name atom → ID; 0 stands for the whole root window.
    std::map<xcb_atom_t, std::int64_t> m_ids;
    std::int64_t m_nextId = 1;

    X11WindowExclusion m_exclusion;

    // Capture thread only, between start() and stop().
    protocol::PixelRect m_rect;
    std::unique_ptr<ShmGrabber> m_grabber;
    xcb_damage_damage_t m_damage = 0;
    xcb_xfixes_region_t m_damageRegion = 0;
    bool m_damagePending = false;
    bool m_dirty = false;
    int m_pointerX = -1;
    int m_pointerY = -1;
};

} // namespace velmarin::capture
