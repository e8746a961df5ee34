#pragma once

// The session components of the shipped program: the one place where each
// subsystem's real implementation is handed to the coordinator.

#include "interfaces/SessionComponents.h"

namespace velmarin {

namespace ui {
class RemoteDisplayBridge;
}

enum class ProductMode { desktop, headless };

// `displayBridge` joins the renderer, the display views and the Viewer's
// input capture; it outlives the components.
SessionComponents productComponents(ProductMode mode, ui::RemoteDisplayBridge& displayBridge);

// The freedesktop "complete" sound through whichever player is installed;
// silent when none is.
void playCompleteSound();

} // namespace velmarin
