#pragma once

// RAII for the XCB objects the X11 backend holds.

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace velmarin::capture {

struct XcbConnectionDeleter {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
using XcbConnection = std::unique_ptr<xcb_connection_t, XcbConnectionDeleter>;

// Replies and errors are malloc'ed by XCB.
struct XcbFree {
    void operator()(void* reply) const { std::free(reply); }
};
template <class T> using XcbReply = std::unique_ptr<T, XcbFree>;

} // namespace velmarin::capture
