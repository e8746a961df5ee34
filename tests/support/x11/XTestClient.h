#pragma once

// A second X client for the injection tests: a window that records the key
// and button events it receives (with the keysym the keymap gives them), and
// read-backs of the server's pointer and keyboard state.

#include "support/x11/RandrMonitor.h"

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmarin::testing {

struct ReceivedEvent {
    enum class Kind { keyPress, keyRelease, buttonPress, buttonRelease } kind;
    int detail = 0;           // keycode or button
    std::uint32_t keysym = 0; // for key events, as the keymap and state give it
    std::uint16_t state = 0;  // modifier and button state before the event
    std::uint32_t time = 0;   // server time, ms
    int x = 0;                // position in the root window
    int y = 0;
};

class XTestClient {
public:
    explicit XTestClient(const std::string& display);
    ~XTestClient() {
        xcb_key_symbols_free(m_symbols);
        xcb_disconnect(m_connection);
    }

    // Maps a window covering (x, y, width, height) of the root, gives it the
    // keyboard focus and starts recording its events.
    // With `background` (0xRRGGBB) it is filled with that colour.
    void openWindow(int x, int y, int width, int height,
                    std::optional<std::uint32_t> background = std::nullopt);
    // Defines a RandR monitor; it lives as long as this client.
    void setMonitor(const std::string& name, int x, int y, int width, int height) {
        setRandrMonitor(m_connection, name, x, y, width, height);
    }

    // Waits until `count` events have arrived (or `timeout` passed) and
    // returns all recorded so far.
    const std::vector<ReceivedEvent>&
    waitForEvents(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(3));
    // Lets events that are still in flight arrive, then returns them all.
    const std::vector<ReceivedEvent>& settle();
    void clearEvents() { m_events.clear(); }

    struct Pointer {
        int x = 0;
        int y = 0;
        std::uint16_t mask = 0;
    };
    Pointer pointer();
    // X keycodes the server considers held down.
    std::vector<int> pressedKeys();

    xcb_connection_t* connection() const { return m_connection; }

private:
    void drain(bool block);
    void roundTrip();

    xcb_connection_t* m_connection = nullptr;
    xcb_screen_t* m_screen = nullptr;
    xcb_key_symbols_t* m_symbols = nullptr;
    xcb_window_t m_window = 0;
    std::vector<ReceivedEvent> m_events;
};

} // namespace velmarin::testing
