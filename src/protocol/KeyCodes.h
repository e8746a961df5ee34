#pragma once

// Key codes and modifier bits as "key" messages carry them: the Mac virtual
// key codes of the modifier keys and of forward delete (which, with control
// and option held, is the Host's Ctrl-Alt-Del), and the device-independent
// bits of the macOS event flags.

#include <cstdint>

namespace velmarin::protocol {

namespace ModifierFlag {
constexpr std::uint64_t capsLock = 0x10000;
constexpr std::uint64_t shift = 0x20000;
constexpr std::uint64_t control = 0x40000;
constexpr std::uint64_t option = 0x80000;
constexpr std::uint64_t command = 0x100000;
constexpr std::uint64_t function = 0x800000;
} // namespace ModifierFlag

namespace MacKey {
constexpr std::uint16_t rightCommand = 54;
constexpr std::uint16_t command = 55;
constexpr std::uint16_t shift = 56;
constexpr std::uint16_t capsLock = 57;
constexpr std::uint16_t option = 58;
constexpr std::uint16_t control = 59;
constexpr std::uint16_t rightShift = 60;
constexpr std::uint16_t rightOption = 61;
constexpr std::uint16_t rightControl = 62;
constexpr std::uint16_t function = 63;
constexpr std::uint16_t forwardDelete = 117;
} // namespace MacKey

// The flag a modifier key sets, 0 for every other key.
constexpr std::uint64_t modifierFlag(std::uint16_t macKeyCode) {
    switch (macKeyCode) {
    case MacKey::rightCommand:
    case MacKey::command:
        return ModifierFlag::command;
    case MacKey::shift:
    case MacKey::rightShift:
        return ModifierFlag::shift;
    case MacKey::capsLock:
        return ModifierFlag::capsLock;
    case MacKey::option:
    case MacKey::rightOption:
        return ModifierFlag::option;
    case MacKey::control:
    case MacKey::rightControl:
        return ModifierFlag::control;
    case MacKey::function:
        return ModifierFlag::function;
    default:
        return 0;
    }
}

} // namespace velmarin::protocol
