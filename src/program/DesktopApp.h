#pragma once

// The desktop application: the main window over the coordinator, the tray
// indicator while sharing, and the launch and close rules.

namespace velmarin {

int runDesktop(int& argc, char** argv);

} // namespace velmarin
