#pragma once

// The headless modes: the same coordinator as the desktop application, with
// the session shown as lines on standard output and failures on standard
// error. Each runs the application's event loop and returns the exit status:
// 0 for a session that ended as asked (time up, SIGINT or SIGTERM, Viewer
// gone), 1 for a failure (the Dutch text is printed).

#include "program/HeadlessOptions.h"
#include "interfaces/SessionComponents.h"

namespace velmarin {

struct UserDevices;
namespace devices {
struct SavedDevice;
}

// The saved device `nameOrID` with a password stored for it; nothing, with
// the reason printed on stderr, otherwise.
const devices::SavedDevice* savedDeviceToView(const QString& nameOrID, UserDevices& user);

int runHeadlessHost(const HostOptions& options, SessionComponents components);
int runHeadlessView(const ViewOptions& options, SessionComponents components);

} // namespace velmarin
