#pragma once

// The session components of the shipped program: the one place where each
// subsystem's real implementation is handed to the coordinator.

#include "interfaces/SessionComponents.h"
#include "wayland/RemoteDesktopProvider.h"

#include <QString>

#include <optional>

namespace velmarin {

namespace ui {
class RemoteDisplayBridge;
}

enum class ProductMode { desktop, headless };

// `displayBridge` joins the renderer, the display views and the Viewer's
// input capture; it outlives the components.
SessionComponents productComponents(ProductMode mode, ui::RemoteDisplayBridge& displayBridge);

// Why this desktop cannot share its screen: a Wayland session where no
// compositor interface for sharing answers. Nothing on X11, and nothing where
// one answers (then capture and input are available).
std::optional<QString> waylandSharingUnavailable();

// The desktop portal's restore token, kept in the settings file so that an
// unattended Host shares again after a restart without asking.
wayland::RestoreTokenStore waylandRestoreTokens();

// The freedesktop "complete" sound through whichever player is installed;
// silent when none is.
void playCompleteSound();

} // namespace velmarin
