#pragma once

// What this program was built from: VELMARIN_VERSION (set by the build) and
// the commit.

#include <QString>

namespace velmarin {

QString buildId();

} // namespace velmarin
