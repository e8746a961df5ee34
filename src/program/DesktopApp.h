#pragma once

// The desktop application: the main window over the coordinator, the tray
// indicator while sharing, and the launch and close rules.

namespace velmarin {

struct ViewOptions;

// With `viewing`, the window opens straight on a session with that Host and
// the process ends with it: 0 when it ends normally (window closed, Host
// stopped), 1 with the Dutch reason on stderr when it fails. Such a run
// never hosts by itself and leaves the user's stores alone unless it
// connects to a saved device.
int runDesktop(int& argc, char** argv, const ViewOptions* viewing = nullptr);

} // namespace velmarin
