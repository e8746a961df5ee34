#pragma once

// The rule that sizes the encoded picture. Rectangles of the X screen are
// protocol::PixelRect, in root-window pixels (origin top-left of the whole
// X screen).

#include "protocol/PixelRect.h"

#include <cstdint>

namespace velmarin::capture {

struct PictureSize {
    int width = 0;
    int height = 0;
    bool operator==(const PictureSize&) const = default;
};

inline constexpr int kMaxCaptureWidth = 1920;
inline constexpr int kMaxCaptureHeight = 1080;

// The encoded size for a display of w × h pixels: unchanged up to
// 1920 × 1080, otherwise scaled by min(1920 / w, 1080 / h) and truncated
// (1920 × 1200 → 1728 × 1080). Both sides are then made even, because 4:2:0
// pictures cannot have odd sizes (3440 × 1440 → 1920 × 802, not 803).
PictureSize captureSizeFor(int width, int height);

} // namespace velmarin::capture
