#pragma once

// The screen-recording permission on X11: granted when the display can be
// opened and one grab of it succeeds. For the permissions panel; it takes a
// few milliseconds (one connection, one grab).

#include "capture/CaptureError.h"
#include "common/Expected.h"

#include <string>

namespace velmarin::capture {

// Succeeds when the screen can be captured, otherwise says why not.
// `displayName` empty means DISPLAY.
Expected<void, CaptureError> checkCaptureAccess(const std::string& displayName = {});

} // namespace velmarin::capture
