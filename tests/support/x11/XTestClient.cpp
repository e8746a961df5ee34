#include "support/x11/XTestClient.h"

#include <cstdlib>
#include <poll.h>
#include <stdexcept>
#include <thread>

namespace velmarin::testing {

namespace {

template <class T> std::unique_ptr<T, decltype(&std::free)> reply(T* raw) {
    return {raw, &std::free};
}

} // namespace

XTestClient::XTestClient(const std::string& display) {
    m_connection = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(m_connection))
        throw std::runtime_error("cannot connect to " + display);
    m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
    m_symbols = xcb_key_symbols_alloc(m_connection);
}

void XTestClient::openWindow(int x, int y, int width, int height,
                             std::optional<std::uint32_t> background) {
    m_window = xcb_generate_id(m_connection);
    const std::uint32_t events = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE |
                                 XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE;
    // Override-redirect: placed exactly where asked. The values go in the
    // order of their mask bits; the background pixel is 0xRRGGBB on the
    // 24-bit TrueColor root visual.
    const std::uint32_t mask =
        XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK | (background ? XCB_CW_BACK_PIXEL : 0);
    const std::uint32_t allValues[] = {background.value_or(0), 1, events};
    const std::uint32_t* values = background ? allValues : allValues + 1;
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, m_screen->root,
                      static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                      static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, m_screen->root_visual, mask, values);
    xcb_map_window(m_connection, m_window);
    xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_POINTER_ROOT, m_window, XCB_CURRENT_TIME);
    roundTrip(); // the window is mapped and focused before anything is injected
}

void XTestClient::drain(bool block) {
    if (block) {
        pollfd pfd{xcb_get_file_descriptor(m_connection), POLLIN, 0};
        poll(&pfd, 1, 50);
    }
    while (auto* raw = xcb_poll_for_event(m_connection)) {
        const auto event = reply(raw);
        const int type = event->response_type & 0x7F;
        if (type < XCB_KEY_PRESS || type > XCB_BUTTON_RELEASE)
            continue;
        // Key and button events share one layout.
        const auto* e = reinterpret_cast<const xcb_key_press_event_t*>(event.get());
        ReceivedEvent received{static_cast<ReceivedEvent::Kind>(type - XCB_KEY_PRESS),
                               e->detail,
                               0,
                               e->state,
                               e->time,
                               e->root_x,
                               e->root_y};
        // Column 1 of the core keymap is the shifted symbol.
        if (type <= XCB_KEY_RELEASE)
            received.keysym = xcb_key_symbols_get_keysym(
                m_symbols, e->detail, (e->state & XCB_MOD_MASK_SHIFT) != 0 ? 1 : 0);
        m_events.push_back(received);
    }
}

const std::vector<ReceivedEvent>& XTestClient::waitForEvents(std::size_t count,
                                                             std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    drain(false);
    while (m_events.size() < count && std::chrono::steady_clock::now() < deadline)
        drain(true);
    return m_events;
}

const std::vector<ReceivedEvent>& XTestClient::settle() {
    // A round trip to the server orders everything it sent before.
    roundTrip();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    roundTrip();
    drain(false);
    return m_events;
}

void XTestClient::roundTrip() {
    free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

XTestClient::Pointer XTestClient::pointer() {
    auto answer = reply(xcb_query_pointer_reply(
        m_connection, xcb_query_pointer(m_connection, m_screen->root), nullptr));
    return {answer->root_x, answer->root_y, answer->mask};
}

std::vector<int> XTestClient::pressedKeys() {
    auto answer =
        reply(xcb_query_keymap_reply(m_connection, xcb_query_keymap(m_connection), nullptr));
    std::vector<int> keys;
    for (int keycode = 0; keycode < 256; ++keycode) {
        if (answer->keys[keycode / 8] & (1 << (keycode % 8)))
            keys.push_back(keycode);
    }
    return keys;
}

} // namespace velmarin::testing
