#pragma once

// Defines a RandR monitor on a test X server, as `xrandr --setmonitor`
// would. The monitor lives as long as `connection`.
//
// Usage (link the CMake target `velmarin_test_x11`):
//
//     #include "support/x11/RandrMonitor.h"
//
//     velmarin::testing::setRandrMonitor(connection, "RIGHT", 1280, 0, 1280, 800);

#include <xcb/xcb.h>

#include <string>

namespace velmarin::testing {

// Asks for RandR 1.6 on `connection`, sends RRSetMonitor for the first
// screen's root and waits for the server's answer; throws
// std::runtime_error when it refused the monitor. The physical size is a
// quarter of a millimetre per pixel.
void setRandrMonitor(xcb_connection_t* connection, const std::string& name, int x, int y, int width,
                     int height, bool primary = false);

} // namespace velmarin::testing
