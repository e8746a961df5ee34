#include "input/InputInjector.h"

#include "interfaces/Log.h"
#include "input/KeyCodeTable.h"
#include "protocol/KeyCodes.h"

#include <array>
#include <cstdlib>

namespace velmarin::input {

namespace {

struct ModifierGroup {
    std::uint64_t flag;
    std::uint8_t left;  // X keycode pressed to set the flag
    std::uint8_t right; // the other key with the same flag
};

// X keycodes (evdev + 8) of the left and right keys of each modifier.
constexpr std::array<ModifierGroup, 4> kModifierGroups{{
    {protocol::ModifierFlag::shift, 50, 62},
    {protocol::ModifierFlag::control, 37, 105},
    {protocol::ModifierFlag::option, 64, 108},
    {protocol::ModifierFlag::command, 133, 134},
}};

constexpr std::uint8_t kCapsLockKeycode = 66;

} // namespace

InputInjector::InputInjector(std::unique_ptr<InputSink> sink, AreaProvider capturedArea,
                             ScrollAccumulator::Clock scrollClock)
    : m_sink(std::move(sink))
    , m_capturedArea(std::move(capturedArea))
    , m_scroll(std::move(scrollClock)) {}

void InputInjector::injectMouseEvent(const protocol::MouseEventMessage& message) {
    std::optional<protocol::PixelRect> area = m_capturedArea ? m_capturedArea() : std::nullopt;
    if (!area || area->isEmpty())
        area = m_sink->screenArea();
    const auto position = normalizedToScreen(message.x, message.y, *area);
    if (!position) {
        qCDebug(Log::input, "Ignoring mouse event outside the screen: %s", message.action.c_str());
        return;
    }

    // The action alone decides the button; the message's button field is
    // not consulted.
    const std::string& action = message.action;
    if (action == "move" || action == "leftDrag" || action == "rightDrag") {
        m_sink->moveTo(*position);
    } else if (action == "leftDown" || action == "rightDown") {
        m_sink->moveTo(*position);
        press(action == "leftDown" ? XButton::left : XButton::right);
    } else if (action == "leftUp" || action == "rightUp") {
        m_sink->moveTo(*position);
        release(action == "leftUp" ? XButton::left : XButton::right);
    } else if (action == "scroll") {
        m_sink->moveTo(*position);
        scroll(message);
    } else {
        qCDebug(Log::input, "Unknown mouse action: %s", action.c_str());
        return;
    }
    m_sink->flush();
}

void InputInjector::press(int button) {
    // X counts presses: a second press of a held button would need two
    // releases, so it is left out.
    if (m_pressedButtons.insert(button).second)
        m_sink->setButton(button, true);
}

void InputInjector::release(int button) {
    if (m_pressedButtons.erase(button) > 0)
        m_sink->setButton(button, false);
}

void InputInjector::click(int button, int count) {
    for (int i = 0; i < count; ++i) {
        m_sink->setButton(button, true);
        m_sink->setButton(button, false);
    }
}

void InputInjector::scroll(const protocol::MouseEventMessage& message) {
    const auto notches =
        m_scroll.add(message.scrollDeltaX.value_or(0.0), message.scrollDeltaY.value_or(0.0));
    click(notches.vertical > 0 ? XButton::wheelUp : XButton::wheelDown, std::abs(notches.vertical));
    click(notches.horizontal > 0 ? XButton::wheelLeft : XButton::wheelRight,
          std::abs(notches.horizontal));
}

void InputInjector::injectKeyEvent(const protocol::KeyEventMessage& message) {
    const auto keycode = xKeycodeForMacKeyCode(message.keyCode);
    if (!keycode) {
        qCDebug(Log::input, "Dropping key with unknown key code %u", message.keyCode);
        return;
    }
    // Every action other than "down" is a release.
    const bool down = message.action == "down";

    if (message.keyCode == protocol::MacKey::capsLock) {
        // Caps Lock reports the lock state: "down" when it turned on.
        setCapsLock(down);
    } else if (protocol::modifierFlag(message.keyCode) != 0) {
        if (down) {
            pressKey(*keycode);
            m_flagModifiers.erase(*keycode);
        } else {
            releaseKey(*keycode);
        }
        matchModifiers(message.flags);
    } else {
        matchModifiers(message.flags);
        if (down) {
            // The X server repeats a held key by itself; passing the
            // Viewer's repeats on as well would double the rate.
            pressKey(*keycode);
        } else {
            releaseKey(*keycode);
            for (const std::uint8_t modifier : m_flagModifiers)
                releaseKey(modifier);
            m_flagModifiers.clear();
        }
    }
    m_sink->flush();
}

void InputInjector::pressKey(std::uint8_t keycode) {
    if (m_pressedKeys.insert(keycode).second)
        m_sink->setKey(keycode, true);
}

void InputInjector::releaseKey(std::uint8_t keycode) {
    if (m_pressedKeys.erase(keycode) > 0)
        m_sink->setKey(keycode, false);
}

void InputInjector::matchModifiers(std::uint64_t flags) {
    for (const ModifierGroup& group : kModifierGroups) {
        const bool held = m_pressedKeys.contains(group.left) || m_pressedKeys.contains(group.right);
        if ((flags & group.flag) != 0) {
            if (!held) {
                pressKey(group.left);
                m_flagModifiers.insert(group.left);
            }
        } else if (held) {
            releaseKey(group.left);
            releaseKey(group.right);
            m_flagModifiers.erase(group.left);
            m_flagModifiers.erase(group.right);
        }
    }
}

void InputInjector::setCapsLock(bool on) {
    if (m_sink->capsLockOn() == on)
        return;
    m_sink->setKey(kCapsLockKeycode, true);
    m_sink->setKey(kCapsLockKeycode, false);
}

void InputInjector::releaseAllModifiers() {
    for (const std::uint8_t keycode : m_pressedKeys)
        m_sink->setKey(keycode, false);
    for (const int button : m_pressedButtons)
        m_sink->setButton(button, false);
    m_pressedKeys.clear();
    m_pressedButtons.clear();
    m_flagModifiers.clear();
    m_scroll.reset();
    m_sink->flush();
    qCInfo(Log::input, "Released all modifier keys");
}

} // namespace velmarin::input
