#include "capture/X11Painter.h"

#include <xcb/randr.h>
#include <xcb/xcbext.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/uio.h>

namespace velmarin::testing {

X11Painter::X11Painter(const std::string& display)
    : m_connection(xcb_connect(display.c_str(), nullptr)) {
    if (xcb_connection_has_error(m_connection))
        throw std::runtime_error("cannot connect to " + display);
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    m_gc = xcb_generate_id(m_connection);
    xcb_create_gc(m_connection, m_gc, m_root, 0, nullptr);
    auto* version = xcb_randr_query_version_reply(
        m_connection, xcb_randr_query_version(m_connection, 1, 5), nullptr);
    std::free(version);
}

X11Painter::~X11Painter() {
    xcb_free_gc(m_connection, m_gc);
    xcb_disconnect(m_connection);
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

void X11Painter::setMonitor(const std::string& name, int x, int y, int width, int height,
                            bool primary) {
    auto* atom = xcb_intern_atom_reply(
        m_connection,
        xcb_intern_atom(m_connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
        nullptr);
    if (!atom)
        throw std::runtime_error("intern atom failed");
    // Sent by hand: libxcb 1.15's xcb_randr_set_monitor miscounts the
    // request length and aborts.
    struct Request {
        std::uint8_t major = 0;
        std::uint8_t minor = 0;
        std::uint16_t length = 0;
        xcb_window_t window = 0;
    } request;
    request.window = m_root;
    xcb_randr_monitor_info_t info{};
    info.name = atom->atom;
    info.primary = primary;
    info.x = static_cast<std::int16_t>(x);
    info.y = static_cast<std::int16_t>(y);
    info.width = static_cast<std::uint16_t>(width);
    info.height = static_cast<std::uint16_t>(height);
    // Physical size in millimetres, as xrandr --setmonitor would give it.
    info.width_in_millimeters = static_cast<std::uint32_t>(width / 4);
    info.height_in_millimeters = static_cast<std::uint32_t>(height / 4);
    std::free(atom);
    iovec parts[4];
    parts[2] = {&request, sizeof request};
    parts[3] = {&info, sizeof info};
    xcb_protocol_request_t protocol{2, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
    const xcb_void_cookie_t cookie{
        xcb_send_request(m_connection, XCB_REQUEST_CHECKED, parts + 2, &protocol)};
    if (auto* error = xcb_request_check(m_connection, cookie)) {
        std::free(error);
        throw std::runtime_error("RRSetMonitor failed");
    }
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

} // namespace velmarin::testing
