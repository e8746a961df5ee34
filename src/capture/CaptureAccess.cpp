#include "capture/CaptureAccess.h"

#include "capture/X11ScreenSource.h"

namespace velmarin::capture {

std::optional<CaptureError> checkCaptureAccess(const std::string& displayName) {
    auto opened = X11ScreenSource::open(displayName);
    if (const auto* error = std::get_if<CaptureError>(&opened))
        return *error;
    X11ScreenSource& source = *std::get<0>(opened);
    const auto displays = source.displays();
    if (displays.empty())
        return CaptureError{CaptureError::Kind::noDisplay};
    if (auto error = source.start(displays.front()))
        return error;
    const auto grabbed = source.grab();
    source.stop();
    if (const auto* error = std::get_if<CaptureError>(&grabbed))
        return *error;
    return std::nullopt;
}

} // namespace velmarin::capture
