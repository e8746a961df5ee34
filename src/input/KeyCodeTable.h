#pragma once

// The wire carries macOS virtual key codes; X servers with the evdev or
// libinput driver (and Xvfb) number keys as Linux evdev code + 8. Both name
// physical key positions, so the mapping is fixed and layout-independent:
// the Host's own keymap turns the key into a character.

#include <cstdint>
#include <optional>

namespace velmarin::input {

// The X keycode of the key at the same position, or nothing for keys an X
// keyboard does not have (Function, 63).
std::optional<std::uint8_t> xKeycodeForMacKeyCode(std::uint16_t macKeyCode);

// The inverse, for the Viewer. Print Screen, Scroll Lock and Pause sit where
// Apple's extended keyboards have F13, F14 and F15 and are sent as those;
// the X keycodes of F13 to F15 themselves are sent as the same codes.
std::optional<std::uint16_t> macKeyCodeForXKeycode(std::uint8_t xKeycode);

} // namespace velmarin::input
