#pragma once

#include <cstdint>

namespace velmarin::capture {

// Draws a pointer image (premultiplied ARGB words, as XFixes hands them out)
// into a B, G, R, X picture with its top-left corner at (left, top) in the
// picture; the parts outside the picture are clipped.
void compositeCursor(std::uint8_t* picture, int width, int height, int stride,
                     const std::uint32_t* cursor, int cursorWidth, int cursorHeight, int left,
                     int top);

} // namespace velmarin::capture
