#include "support/x11/RandrMonitor.h"

#include <xcb/randr.h>
#include <xcb/xcbext.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <sys/uio.h>

namespace velmarin::testing {

void setRandrMonitor(xcb_connection_t* connection, const std::string& name, int x, int y, int width,
                     int height, bool primary) {
    // Monitors need RandR 1.5; the server holds a client to the version it asked for.
    const std::unique_ptr<xcb_randr_query_version_reply_t, decltype(&std::free)> version(
        xcb_randr_query_version_reply(connection, xcb_randr_query_version(connection, 1, 6),
                                      nullptr),
        &std::free);
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
            nullptr),
        &std::free);
    if (!version || !atom)
        throw std::runtime_error("RandR unavailable");

    // Sent by hand: libxcb 1.15's xcb_randr_set_monitor miscounts the
    // request length, which aborts or breaks the connection.
    struct Request {
        std::uint8_t major = 0;
        std::uint8_t minor = 0;
        std::uint16_t length = 0;
        xcb_window_t window = 0;
    } request{.window = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root};
    xcb_randr_monitor_info_t info{.name = atom->atom,
                                  .primary = primary,
                                  .x = static_cast<std::int16_t>(x),
                                  .y = static_cast<std::int16_t>(y),
                                  .width = static_cast<std::uint16_t>(width),
                                  .height = static_cast<std::uint16_t>(height),
                                  .width_in_millimeters = static_cast<std::uint32_t>(width / 4),
                                  .height_in_millimeters = static_cast<std::uint32_t>(height / 4)};
    // xcb_send_request needs two spare entries before the ones it is given.
    iovec parts[4];
    parts[2] = {&request, sizeof request};
    parts[3] = {&info, sizeof info};
    xcb_protocol_request_t protocol{2, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
    const xcb_void_cookie_t cookie{
        xcb_send_request(connection, XCB_REQUEST_CHECKED, parts + 2, &protocol)};
    if (auto* error = xcb_request_check(connection, cookie)) {
        std::free(error);
        throw std::runtime_error("RandR refused monitor " + name);
    }
}

} // namespace velmarin::testing
