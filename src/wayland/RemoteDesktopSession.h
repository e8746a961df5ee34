#pragma once

// A Wayland compositor's consent to share one monitor and take input there:
// a screen cast whose frames come through a PipeWire node, and a virtual
// pointer and keyboard on the same monitor. Provided by GNOME's own
// interfaces (MutterRemoteDesktop) or by the desktop portal.
//
// Thread-safe: the capture thread and the GUI thread may share one session.

#include <cstdint>
#include <string>

namespace velmarin::wayland {

struct SessionError {
    std::string message; // English, for the log
    // The person at the screen said no to the sharing dialog.
    bool refused = false;
    std::string description() const {
        return refused ? "Het delen van het scherm is geweigerd." : message;
    }
};

class RemoteDesktopSession {
public:
    enum class Axis : std::uint32_t { vertical = 0, horizontal = 1 };

    virtual ~RemoteDesktopSession() = default;

    std::uint32_t pipeWireNode() const { return m_node; }
    // A connection to the PipeWire daemon that holds the node (the portal
    // hands one out), or -1: the user's default daemon. The stream takes it
    // over; it is handed out once.
    virtual int takePipeWireRemote() { return -1; }

    // Input, in the cast monitor's pixels and evdev codes. Sent in order
    // without waiting for an answer; flush() pushes them out.
    virtual void pointerMotion(double x, double y) = 0;
    virtual void pointerButton(int evdevButton, bool pressed) = 0;
    virtual void pointerAxisDiscrete(Axis axis, int steps) = 0;
    virtual void keyboardKeycode(std::uint32_t evdevKeycode, bool pressed) = 0;
    virtual void flush() = 0;
    // False once the compositor closed the session (or the bus went away).
    virtual bool alive() const = 0;

protected:
    std::uint32_t m_node = 0;
};

} // namespace velmarin::wayland
