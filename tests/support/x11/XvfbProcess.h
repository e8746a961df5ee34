#pragma once

// A private X server for tests: Xvfb on a display number it picks itself,
// so suites can run side by side.
//
// Usage (link the CMake target `velmarin_test_x11`):
//
//     #include "support/x11/XvfbProcess.h"
//
//     velmarin::testing::XvfbProcess x(1920, 1080);   // started and accepting
//     setenv("DISPLAY", x.display().c_str(), 1);       // ":N"
//     ... open connections with xcb_connect(x.display().c_str(), nullptr) ...
//
// Xvfb has XTEST, RANDR 1.6, MIT-SHM, DAMAGE, XFIXES and Composite. The
// constructor throws std::runtime_error when Xvfb cannot start; the
// destructor kills the server. RandR monitors defined by a client live only
// as long as that client's connection: keep it open for the whole test.

#include <string>
#include <sys/types.h>

namespace velmarin::testing {

class XvfbProcess {
public:
    // `dpi` sets the screen's physical size (Xvfb's -dpi); 0 keeps Xvfb's own.
    XvfbProcess(int width = 1920, int height = 1080, int depth = 24, int dpi = 0);
    ~XvfbProcess();
    XvfbProcess(const XvfbProcess&) = delete;
    XvfbProcess& operator=(const XvfbProcess&) = delete;

    // ":N", the value for DISPLAY and for xcb_connect.
    const std::string& display() const { return m_display; }
    pid_t pid() const { return m_pid; }

    // Runs a shell command with DISPLAY set to this server; returns its exit
    // status (for xdotool, xsetroot, xclip, ...).
    int run(const std::string& command) const;

private:
    pid_t m_pid = -1;
    std::string m_display;
};

} // namespace velmarin::testing
