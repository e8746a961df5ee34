#pragma once

// `velmarin devices …`: the saved devices from the command line.

#include "program/HeadlessOptions.h"

namespace velmarin {

int runHeadlessDevices(const DevicesOptions& options);

} // namespace velmarin
