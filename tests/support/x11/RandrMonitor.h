#pragma once

// Defines a RandR monitor on a test X server, as `xrandr --setmonitor`
// would. The monitor lives as long as `connection`; the connection must have
// asked for RandR 1.5 or later first (xcb_randr_query_version).
//
// Usage (link the CMake target `velmarin_test_x11`):
//
//     #include "support/x11/RandrMonitor.h"
//
//     if (!velmarin::testing::setRandrMonitor(connection, root, nameAtom, 1280, 0, 1280, 800))
//         ... the server refused it ...

#include <xcb/xcb.h>

namespace velmarin::testing {

// Sends RRSetMonitor and waits for the server's answer; false when it
// refused the monitor. The physical size is a quarter of a millimetre per
// pixel.
bool setRandrMonitor(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t name, int x, int y,
                     int width, int height, bool primary = false);

} // namespace velmarin::testing
