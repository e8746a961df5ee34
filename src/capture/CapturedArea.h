#pragma once

// Where on the X screen the Host's picture comes from, for whoever maps the
// Viewer's normalised pointer positions back to screen pixels (the input
// injector). The capture writes it whenever a display starts or stops
// being captured; any thread reads it.

#include "capture/CaptureGeometry.h"

#include <mutex>
#include <optional>

namespace velmarin::capture {

class CapturedArea {
public:
    void set(std::optional<protocol::PixelRect> rect) {
        const std::lock_guard lock(m_mutex);
        m_rect = rect;
    }
    // Nothing while no display is captured.
    std::optional<protocol::PixelRect> get() const {
        const std::lock_guard lock(m_mutex);
        return m_rect;
    }

private:
    mutable std::mutex m_mutex;
    std::optional<protocol::PixelRect> m_rect;
};

} // namespace velmarin::capture
