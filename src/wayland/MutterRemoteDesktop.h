#pragma once

// A remote-desktop session of mutter (GNOME's compositor) on the session bus,
// with a screen cast of one monitor linked to it: the cast's frames come
// through a PipeWire node, and input goes to the same monitor through
// mutter's virtual pointer and keyboard. No dialog is shown; mutter's
// org.gnome.Mutter.RemoteDesktop and .ScreenCast services must be reachable.
//
// Mutter ends a session when the D-Bus connection that created it closes,
// and only that connection may send its input, so the session owns a private
// connection for its whole life. The destructor stops the session.
//
// Thread-safe: the capture thread and the GUI thread may share one session.

#include "common/Expected.h"

#include <cstdint>
#include <memory>
#include <string>

namespace velmarin::wayland {

struct SessionError {
    std::string message; // English, for the log
    std::string description() const { return message; }
};

class MutterRemoteDesktop {
public:
    enum class Axis : std::uint32_t { vertical = 0, horizontal = 1 };

    // Creates and starts the session on the bus of DBUS_SESSION_BUS_ADDRESS,
    // casting monitor `connector` ("" for the primary one) with the pointer
    // drawn into the frames, and waits until the PipeWire node exists.
    static Expected<std::unique_ptr<MutterRemoteDesktop>, SessionError>
    open(const std::string& connector = {});

    ~MutterRemoteDesktop();
    MutterRemoteDesktop(const MutterRemoteDesktop&) = delete;
    MutterRemoteDesktop& operator=(const MutterRemoteDesktop&) = delete;

    std::uint32_t pipeWireNode() const { return m_node; }

    // Input, in the cast monitor's pixels and evdev codes. Sent in order
    // without waiting for an answer; flush() pushes them out.
    void pointerMotion(double x, double y);
    void pointerButton(int evdevButton, bool pressed);
    void pointerAxisDiscrete(Axis axis, int steps);
    void keyboardKeycode(std::uint32_t evdevKeycode, bool pressed);
    void flush();

    // False once mutter closed the session (or the bus went away).
    bool alive() const;

private:
    struct Bus;
    explicit MutterRemoteDesktop(std::unique_ptr<Bus> bus);
    void notify(const char* method, void* parameters);

    std::unique_ptr<Bus> m_bus;
    std::uint32_t m_node = 0;
};

} // namespace velmarin::wayland
