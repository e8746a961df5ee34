#pragma once

// The screen-recording permission on X11: granted when the display can be
// opened and one grab of it succeeds. For the permissions panel; it takes a
// few milliseconds (one connection, one grab).

#include "capture/CaptureError.h"

#include <optional>
#include <string>

namespace velmarin::capture {

// Nothing when the screen can be captured, otherwise why not.
// `displayName` empty means DISPLAY.
std::optional<CaptureError> checkCaptureAccess(const std::string& displayName = {});

} // namespace velmarin::capture
