#pragma once

// A Wayland compositor's consent to share its monitors and take input there:
// a screen cast per monitor whose frames come through a PipeWire node, and a
// virtual pointer and keyboard. Provided by GNOME's own
// interfaces (MutterRemoteDesktop) or by the desktop portal.
//
// Thread-safe: the capture thread and the GUI thread may share one session.

#include <cstdint>
#include <string>
#include <vector>

namespace velmarin::wayland {

struct SessionError {
    std::string message; // English, for the log
    // The person at the screen said no to the sharing dialog.
    bool refused = false;
    std::string description() const {
        return refused ? "Het delen van het scherm is geweigerd." : message;
    }
};

// One cast monitor: its stream's node and where it lies on the desktop.
// A size of 0 x 0 means only the stream knows it.
struct CastMonitor {
    std::uint32_t node = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool primary = false;
    bool operator==(const CastMonitor&) const = default;
};

class RemoteDesktopSession {
public:
    enum class Axis : std::uint32_t { vertical = 0, horizontal = 1 };

    virtual ~RemoteDesktopSession() = default;

    // At least one, the primary first; fixed for the session's life.
    const std::vector<CastMonitor>& monitors() const { return m_monitors; }
    // A connection to the PipeWire daemon that holds the node (the portal
    // hands one out), or -1: the user's default daemon. The stream takes it
    // over; it is handed out once.
    virtual int takePipeWireRemote() { return -1; }

    // Input, in evdev codes and the pixels of the monitor cast to `node`.
    // Sent in order without waiting for an answer; flush() pushes them out.
    virtual void pointerMotion(std::uint32_t node, double x, double y) = 0;
    virtual void pointerButton(int evdevButton, bool pressed) = 0;
    virtual void pointerAxisDiscrete(Axis axis, int steps) = 0;
    virtual void keyboardKeycode(std::uint32_t evdevKeycode, bool pressed) = 0;
    virtual void flush() = 0;
    // False once the compositor closed the session (or the bus went away).
    virtual bool alive() const = 0;

protected:
    std::vector<CastMonitor> m_monitors;
};

} // namespace velmarin::wayland
