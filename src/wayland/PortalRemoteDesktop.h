#pragma once

// A remote-desktop session through the desktop portal
// (org.freedesktop.portal.RemoteDesktop with its ScreenCast on the session
// bus), for Wayland desktops whose compositor has no interface of its own
// that this program uses. The monitors the person picks (all of them, where
// the portal picks without asking) are cast with the pointer drawn into the
// frames, and the keyboard and pointer are shared; the portal may show the
// person at the screen a dialog before it agrees.
//
// The portal keeps the session for as long as the D-Bus connection that
// created it, so the session owns a private connection. The destructor
// closes the session.
//
// Thread-safe: the capture thread and the GUI thread may share one session.

#include "common/Expected.h"
#include "wayland/RemoteDesktopSession.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace velmarin::wayland {

class PortalRemoteDesktop final : public RemoteDesktopSession {
public:
    struct Timeouts {
        // Each of the requests that need no person.
        std::chrono::milliseconds request = std::chrono::seconds(10);
        // Start, which may wait for the person at the dialog.
        std::chrono::milliseconds start = std::chrono::seconds(120);
    };

    // Asks the portal of DBUS_SESSION_BUS_ADDRESS for a session. A
    // `restoreToken` from an earlier session's restoreToken() lets the portal
    // restore that session's choice without a dialog ("" for none). Refused
    // when the person cancels the dialog (SessionError::refused).
    static Expected<std::unique_ptr<PortalRemoteDesktop>, SessionError>
    open(const std::string& restoreToken, Timeouts timeouts);
    static Expected<std::unique_ptr<PortalRemoteDesktop>, SessionError>
    open(const std::string& restoreToken) {
        return open(restoreToken, Timeouts{});
    }

    ~PortalRemoteDesktop();
    PortalRemoteDesktop(const PortalRemoteDesktop&) = delete;
    PortalRemoteDesktop& operator=(const PortalRemoteDesktop&) = delete;

    // The token that restores this session next time without a dialog, to
    // be kept instead of the one given to open() (a token works once);
    // empty when the portal gave none.
    std::string restoreToken() const;

    int takePipeWireRemote() override;

    void pointerMotion(std::uint32_t node, double x, double y) override;
    void pointerButton(int evdevButton, bool pressed) override;
    void pointerAxisDiscrete(Axis axis, int steps) override;
    void keyboardKeycode(std::uint32_t evdevKeycode, bool pressed) override;
    void flush() override;

    bool alive() const override;

private:
    struct Bus;
    explicit PortalRemoteDesktop(std::unique_ptr<Bus> bus);
    void notify(const char* method, void* parameters);

    std::unique_ptr<Bus> m_bus;
};

} // namespace velmarin::wayland
