#pragma once

// A private GNOME Wayland session for tests, with no display and no dialog:
// its own session bus and runtime directory, PipeWire with WirePlumber, and
// mutter --headless with virtual monitors, whose screen-cast and
// remote-desktop services answer on that bus.
//
// Usage (link the CMake target `velmarin_test_wayland`):
//
//     velmarin::testing::HeadlessWayland session(1280, 800);  // throws if it cannot start
//     session.startWev();         // a client window that logs its input
//     ... MutterRemoteDesktop::open() reaches this session's mutter ...
//     session.wevLog();           // what the client received
//
// The constructor points DBUS_SESSION_BUS_ADDRESS and XDG_RUNTIME_DIR of
// this process at the session (the code under test finds it there); the
// destructor ends every process, removes the directory and restores both.

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace velmarin::testing {

class HeadlessWayland {
public:
    HeadlessWayland(int width, int height);
    // Several monitors, side by side from the left; the first is primary.
    // With `xwayland`, mutter serves X11 clients too, and DISPLAY and
    // XAUTHORITY of this process point at its Xwayland until the end.
    explicit HeadlessWayland(const std::vector<std::pair<int, int>>& monitors,
                             bool xwayland = false);
    ~HeadlessWayland();
    HeadlessWayland(const HeadlessWayland&) = delete;
    HeadlessWayland& operator=(const HeadlessWayland&) = delete;

    // Starts wev (a window with a grey checkerboard that logs every input
    // event) and returns once it is mapped and its fade-in is over.
    void startWev();
    std::string wevLog() const { return log("wev.log"); }
    // Starts a program of the session (it finds the session bus and the
    // runtime directory in its environment) and returns once it owns
    // `busName` on the session bus. Its output goes to `logFile` in the
    // session's directory.
    void startService(const std::vector<std::string>& command, const std::string& logFile,
                      const std::string& busName);
    // Ends mutter, as a crash of the compositor would.
    void killMutter();

private:
    void shutdown();
    std::string log(const std::string& file) const;
    pid_t spawn(const std::vector<std::string>& command, const std::string& logFile);
    // Throws with every log when `ready` does not hold within 10 s.
    void waitFor(const std::string& what, const std::function<bool()>& ready);

    std::string m_runtimeDir;
    std::string m_waylandDisplay = "wl-velmarin";
    // The variables this session changes, as they were before.
    std::vector<std::pair<const char*, std::optional<std::string>>> m_saved;
    std::vector<pid_t> m_pids; // in start order
    pid_t m_mutter = -1;
};

} // namespace velmarin::testing
