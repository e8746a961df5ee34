#include "input/KeyCodeTable.h"

#include <gtest/gtest.h>

#include <linux/input-event-codes.h>
#include <map>
#include <vector>

using namespace velmarin::input;

namespace {

constexpr std::uint8_t x(int evdev) {
    return static_cast<std::uint8_t>(evdev + 8);
}

// Every key of a full-size ISO PC keyboard (105 keys) plus the JIS extras
// and the media keys that Mac keyboards have too.
const std::vector<int> kStandardKeyboard = {
    KEY_ESC, KEY_F1, KEY_F2, KEY_F3, KEY_F4, KEY_F5, KEY_F6, KEY_F7, KEY_F8, KEY_F9, KEY_F10,
    KEY_F11, KEY_F12, KEY_SYSRQ, KEY_SCROLLLOCK, KEY_PAUSE, KEY_GRAVE, KEY_1, KEY_2, KEY_3, KEY_4,
    KEY_5, KEY_6, KEY_7, KEY_8, KEY_9, KEY_0, KEY_MINUS, KEY_EQUAL, KEY_BACKSPACE, KEY_INSERT,
    KEY_HOME, KEY_PAGEUP, KEY_NUMLOCK, KEY_KPSLASH, KEY_KPASTERISK, KEY_KPMINUS, KEY_TAB, KEY_Q,
    KEY_W, KEY_E, KEY_R, KEY_T, KEY_Y, KEY_U, KEY_I, KEY_O, KEY_P, KEY_LEFTBRACE, KEY_RIGHTBRACE,
    KEY_ENTER, KEY_DELETE, KEY_END, KEY_PAGEDOWN, KEY_KP7, KEY_KP8, KEY_KP9, KEY_KPPLUS,
    KEY_CAPSLOCK, KEY_A, KEY_S, KEY_D, KEY_F, KEY_G, KEY_H, KEY_J, KEY_K, KEY_L, KEY_SEMICOLON,
    KEY_APOSTROPHE, KEY_BACKSLASH, KEY_KP4, KEY_KP5, KEY_KP6, KEY_LEFTSHIFT, KEY_102ND, KEY_Z,
    KEY_X, KEY_C, KEY_V, KEY_B, KEY_N, KEY_M, KEY_COMMA, KEY_DOT, KEY_SLASH, KEY_RIGHTSHIFT, KEY_UP,
    KEY_KP1, KEY_KP2, KEY_KP3, KEY_KPENTER, KEY_LEFTCTRL, KEY_LEFTMETA, KEY_LEFTALT, KEY_SPACE,
    KEY_RIGHTALT, KEY_RIGHTMETA, KEY_COMPOSE, KEY_RIGHTCTRL, KEY_LEFT, KEY_DOWN, KEY_RIGHT, KEY_KP0,
    KEY_KPDOT,
    // beyond the 105 keys
    KEY_F16, KEY_F17, KEY_F18, KEY_F19, KEY_F20, KEY_KPEQUAL, KEY_YEN, KEY_RO, KEY_KPJPCOMMA,
    KEY_HANGEUL, KEY_HANJA, KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_MUTE};

} // namespace

// Every standard key has a Mac code of its own that leads back to it, and
// no other Mac code is mapped (so every mapped one round-trips too).
TEST(KeyCodeTable, EveryStandardKeyAndNoOtherRoundTripsThroughItsOwnMacCode) {
    std::map<std::uint16_t, int> seen;
    for (const int evdev : kStandardKeyboard) {
        const auto mac = macKeyCodeForXKeycode(x(evdev));
        ASSERT_TRUE(mac) << "no Mac code for evdev " << evdev;
        EXPECT_TRUE(seen.emplace(*mac, evdev).second)
            << "evdev " << evdev << " and " << seen[*mac] << " share Mac code " << *mac;
        EXPECT_EQ(xKeycodeForMacKeyCode(*mac), x(evdev)) << "evdev " << evdev;
    }
    int mapped = 0;
    for (std::uint16_t mac = 0; mac < 0x200; ++mac)
        mapped += xKeycodeForMacKeyCode(mac).has_value();
    EXPECT_EQ(mapped, static_cast<int>(kStandardKeyboard.size()));
}

// Where Mac and PC keyboards differ. Shift, Option, Command, Caps Lock, A
// and Forward Delete are checked by the injection and capture tests.
TEST(KeyCodeTable, KeysPeersRelyOnSitWhereMacKeyboardsHaveThemAndOthersAreAbsent) {
    // 0x33 is the Mac "Delete".
    for (const auto& [mac, evdev] : {std::pair{59, KEY_LEFTCTRL},
                                     {54, KEY_RIGHTMETA},
                                     {0x33, KEY_BACKSPACE},
                                     {0x0A, KEY_102ND},
                                     {0x32, KEY_GRAVE}})
        EXPECT_EQ(xKeycodeForMacKeyCode(mac), x(evdev)) << mac;
    // Keys without a counterpart are absent (63, Function, has no X keycode).
    for (const int mac : {63, 0x34, 0xFFFF})
        EXPECT_FALSE(xKeycodeForMacKeyCode(mac)) << mac;
    EXPECT_FALSE(macKeyCodeForXKeycode(0));
    EXPECT_FALSE(macKeyCodeForXKeycode(255));
    // F13 to F15 go one way, to the Mac keys at the Print Screen row.
    EXPECT_EQ(macKeyCodeForXKeycode(x(KEY_F13)), macKeyCodeForXKeycode(x(KEY_SYSRQ)));
    EXPECT_EQ(macKeyCodeForXKeycode(x(KEY_F15)), 0x71);
}
