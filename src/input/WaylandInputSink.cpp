#include "input/WaylandInputSink.h"

#include "wayland/RemoteDesktopSession.h"

#include <algorithm>

namespace velmarin::input {

namespace {

using Axis = wayland::RemoteDesktopSession::Axis;

// linux/input-event-codes.h
constexpr int btnLeft = 0x110;
constexpr int btnRight = 0x111;
constexpr int btnMiddle = 0x112;
constexpr std::uint32_t keyCapsLock = 58;
// X keycodes are evdev codes plus 8.
constexpr int xKeycodeOffset = 8;

} // namespace

WaylandInputSink::WaylandInputSink(std::shared_ptr<wayland::RemoteDesktopSession> session,
                                 std::function<protocol::PixelRect()> area)
    : m_session(std::move(session))
    , m_area(std::move(area)) {}

WaylandInputSink::~WaylandInputSink() {
    for (const std::uint32_t key : m_keys)
        m_session->keyboardKeycode(key, false);
    for (const int button : m_buttons)
        m_session->pointerButton(button, false);
    m_session->flush();
}

protocol::PixelRect WaylandInputSink::screenArea() const {
    return m_area();
}

void WaylandInputSink::moveTo(QPoint position) {
    // Positions go in stream coordinates: pixels from the corner of the
    // shared monitor, whose stream is the one cast from where it lies.
    const protocol::PixelRect area = m_area();
    if (area.isEmpty())
        return;
    const auto& monitors = m_session->monitors();
    const auto shared = std::find_if(monitors.begin(), monitors.end(), [&](const auto& monitor) {
        return monitor.x == area.x && monitor.y == area.y;
    });
    if (shared == monitors.end())
        return;
    const int x = std::clamp(position.x() - area.x, 0, area.width - 1);
    const int y = std::clamp(position.y() - area.y, 0, area.height - 1);
    m_session->pointerMotion(shared->node, x, y);
}

void WaylandInputSink::setButton(int button, bool pressed) {
    switch (button) {
    case XButton::wheelUp:
    case XButton::wheelDown:
    case XButton::wheelLeft:
    case XButton::wheelRight:
        // A wheel "button" is one step on its press; its release is nothing.
        if (pressed)
            m_session->pointerAxisDiscrete(
                button <= XButton::wheelDown ? Axis::vertical : Axis::horizontal,
                button == XButton::wheelUp || button == XButton::wheelLeft ? -1 : 1);
        return;
    default:
        break;
    }
    const int evdev = button == XButton::left    ? btnLeft
                      : button == XButton::right ? btnRight
                      : button == 2              ? btnMiddle
                                                 : 0;
    if (evdev == 0)
        return;
    if (pressed ? !m_buttons.insert(evdev).second : m_buttons.erase(evdev) == 0)
        return; // already in that state
    m_session->pointerButton(evdev, pressed);
}

void WaylandInputSink::setKey(std::uint8_t keycode, bool pressed) {
    if (keycode < xKeycodeOffset)
        return;
    const std::uint32_t evdev = keycode - xKeycodeOffset;
    if (pressed) {
        if (m_keys.insert(evdev).second && evdev == keyCapsLock)
            m_capsLock = !m_capsLock;
    } else if (m_keys.erase(evdev) == 0) {
        return; // never pressed here
    }
    m_session->keyboardKeycode(evdev, pressed);
}

bool WaylandInputSink::capsLockOn() {
    return m_capsLock;
}

void WaylandInputSink::flush() {
    m_session->flush();
}

} // namespace velmarin::input
