#include "capture/CaptureAccess.h"

#include "capture/X11ScreenSource.h"

namespace velmarin::capture {

Expected<void, CaptureError> checkCaptureAccess(const std::string& displayName) {
    auto opened = X11ScreenSource::open(displayName);
    if (!opened)
        return unexpected(opened.error());
    X11ScreenSource& source = **opened;
    const auto displays = source.displays();
    if (displays.empty())
        return unexpected(CaptureError{CaptureError::Kind::noDisplay});
    if (auto started = source.start(displays.front()); !started)
        return started;
    const auto grabbed = source.grab();
    source.stop();
    if (!grabbed)
        return unexpected(grabbed.error());
    return {};
}

} // namespace velmarin::capture
