#pragma once

// The remote-input components of the shipped program: the Host's injector on
// this X display (or through the
// Wayland compositor), mapping into whichever monitor the capture reports, and the
// Viewer's capture of the display view's events.

#include "interfaces/SessionComponents.h"

#include <QSizeF>

#include <functional>
#include <memory>

namespace velmarin::capture {
class CapturedArea;
}
namespace velmarin::wayland {
class RemoteDesktopSession;
}
namespace velmarin::transport {
class WebSocketManager;
}
namespace velmarin::ui {
class RemoteDisplayBridge;
}

namespace velmarin::input {

// Nothing when this session has no X display with XTEST (logged once).
std::unique_ptr<HostInput> makeHostInput(std::shared_ptr<const capture::CapturedArea> area);
// On a Wayland desktop: through `session`, the one the capture casts.
// Nothing when there is none (logged once).
std::unique_ptr<HostInput>
makeWaylandHostInput(std::shared_ptr<wayland::RemoteDesktopSession> session,
                     std::shared_ptr<const capture::CapturedArea> area);

// Sends over `webSocket`; takes the display view's events from `bridge`,
// which outlives the returned capture.
std::unique_ptr<ViewerInput> makeViewerInput(transport::WebSocketManager& webSocket,
                                             std::function<QSizeF()> hostScreenSize,
                                             ui::RemoteDisplayBridge& bridge);

} // namespace velmarin::input
