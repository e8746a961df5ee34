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
#include "wayland/RemoteDesktopSession.h"

#include <cstdint>
#include <memory>
#include <string>

namespace velmarin::wayland {

class MutterRemoteDesktop final : public RemoteDesktopSession {
public:

    // Creates and starts the session on the bus of DBUS_SESSION_BUS_ADDRESS,
    // casting monitor `connector` ("" for the primary one) with the pointer
    // drawn into the frames, and waits until the PipeWire node exists.
    static Expected<std::unique_ptr<MutterRemoteDesktop>, SessionError>
    open(const std::string& connector = {});

    ~MutterRemoteDesktop();
    MutterRemoteDesktop(const MutterRemoteDesktop&) = delete;
    MutterRemoteDesktop& operator=(const MutterRemoteDesktop&) = delete;

    void pointerMotion(double x, double y) override;
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
