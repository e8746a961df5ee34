#pragma once

// The session components of the shipped program: the one place where each
// subsystem's real implementation is handed to the coordinator.

#include "app/SessionComponents.h"

namespace velmarin {

enum class ProductMode { desktop, headless };

SessionComponents productComponents(ProductMode mode);

// The freedesktop "complete" sound through whichever player is installed;
// silent when none is.
void playCompleteSound();

} // namespace velmarin
