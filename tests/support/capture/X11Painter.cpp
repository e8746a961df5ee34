#include "support/capture/X11Painter.h"

#include <cstdlib>
#include <stdexcept>

namespace velmarin::testing {

X11Painter::X11Painter(const std::string& display)
    : m_connection(xcb_connect(display.c_str(), nullptr)) {
    if (xcb_connection_has_error(m_connection))
        throw std::runtime_error("cannot connect to " + display);
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    m_gc = xcb_generate_id(m_connection);
    xcb_create_gc(m_connection, m_gc, m_root, 0, nullptr);
}

void X11Painter::fill(int x, int y, int width, int height, std::uint32_t rgb) {
    const std::uint32_t values[] = {rgb, XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS};
    // Drawn through children too, so nothing on the root hides it.
    xcb_change_gc(m_connection, m_gc, XCB_GC_FOREGROUND | XCB_GC_SUBWINDOW_MODE, values);
    const xcb_rectangle_t rect{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                               static_cast<std::uint16_t>(width),
                               static_cast<std::uint16_t>(height)};
    xcb_poly_fill_rectangle(m_connection, m_root, m_gc, 1, &rect);
    sync();
}

void X11Painter::movePointer(int x, int y) {
    xcb_warp_pointer(m_connection, XCB_NONE, m_root, 0, 0, 0, 0, static_cast<std::int16_t>(x),
                     static_cast<std::int16_t>(y));
    sync();
}

void X11Painter::sync() {
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    if (xcb_connection_has_error(m_connection))
        throw std::runtime_error("X connection of the painter failed");
}

ScreenAnimation::ScreenAnimation(const std::string& display,
                                 std::function<void(X11Painter&, int)> step)
    : m_thread([this, display, step = std::move(step)] {
        X11Painter painter(display);
        for (int i = 0; !m_stop; ++i)
            step(painter, i);
    }) {}

} // namespace velmarin::testing
