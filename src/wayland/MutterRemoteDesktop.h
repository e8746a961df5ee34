#pragma once

// A remote-desktop session of mutter (GNOME's compositor) on the session bus,
// with a screen cast of every monitor linked to it: each cast's frames come
// through a PipeWire node, and input goes to the monitors through mutter's
// virtual pointer and keyboard. No dialog is shown; mutter's
// org.gnome.Mutter.RemoteDesktop and .ScreenCast services must be reachable.
//
// Mutter ends a session when the D-Bus connection that created it closes,
// and only that connection may send its input, so the session owns a private
// connection for its whole life. The destructor stops the session.
//
// Thread-safe: the capture thread and the GUI thread may share one session.

#include "common/Expected.h"
#include "wayland/RemoteDesktopSession.h"

#include <cstdint>
#include <memory>
#include <string>

namespace velmarin::wayland {

class MutterRemoteDesktop final : public RemoteDesktopSession {
public:
    // Creates and starts the session on the bus of DBUS_SESSION_BUS_ADDRESS,
    // casting each monitor of mutter's display configuration (or, where that
    // cannot be read, the primary one) with the pointer drawn into the
    // frames, and waits until every PipeWire node exists.
    static Expected<std::unique_ptr<MutterRemoteDesktop>, SessionError> open();

    ~MutterRemoteDesktop();
    MutterRemoteDesktop(const MutterRemoteDesktop&) = delete;
    MutterRemoteDesktop& operator=(const MutterRemoteDesktop&) = delete;

    void pointerMotion(std::uint32_t node, double x, double y) override;
    void pointerButton(int evdevButton, bool pressed) override;
    void pointerAxisDiscrete(Axis axis, int steps) override;
    void keyboardKeycode(std::uint32_t evdevKeycode, bool pressed) override;
    void flush() override;

    bool alive() const override;

private:
    struct Bus;
    explicit MutterRemoteDesktop(std::unique_ptr<Bus> bus);
    void notify(const char* method, void* parameters);

    std::unique_ptr<Bus> m_bus;
};

} // namespace velmarin::wayland
