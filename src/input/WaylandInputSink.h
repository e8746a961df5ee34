#pragma once

// Injected input in a Wayland session through the compositor's virtual
// pointer and keyboard (a RemoteDesktopSession). Positions land on the shared
// monitor (the one the capture shows), X keycodes become evdev codes (X = evdev + 8), buttons 4 to 7 become
// one wheel step each. Whatever is still held when the sink goes is released.

#include "input/InputSink.h"

#include <functional>
#include <memory>
#include <set>

namespace velmarin::wayland {
class RemoteDesktopSession;
}

namespace velmarin::input {

class WaylandInputSink final : public InputSink {
public:
    // `area` gives the shared monitor's rectangle when asked: where the
    // session's cast monitor lies and its stream's size.
    WaylandInputSink(std::shared_ptr<wayland::RemoteDesktopSession> session,
                    std::function<protocol::PixelRect()> area);
    ~WaylandInputSink() override;

    protocol::PixelRect screenArea() const override;
    void moveTo(QPoint position) override;
    void setButton(int button, bool pressed) override;
    void setKey(std::uint8_t keycode, bool pressed) override;
    // Mutter does not tell the state of the lock keys: this is the state the
    // Caps Lock presses sent through this sink left, starting from off.
    bool capsLockOn() override;
    void flush() override;

private:
    std::shared_ptr<wayland::RemoteDesktopSession> m_session;
    std::function<protocol::PixelRect()> m_area;
    std::set<int> m_buttons;        // evdev buttons held
    std::set<std::uint32_t> m_keys; // evdev keys held
    bool m_capsLock = false;
};

} // namespace velmarin::input
