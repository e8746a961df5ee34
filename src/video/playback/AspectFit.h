#pragma once

// Where a picture goes inside an area when it is shown whole with its aspect
// ratio kept, centred, the rest left black (letterboxed).

#include "protocol/PixelRect.h"

namespace velmarin::video {

// `alignment` rounds position and size down to a multiple (2 keeps chroma
// planes of 4:2:0 pictures aligned). Empty when either size is not positive.
protocol::PixelRect aspectFit(int pictureWidth, int pictureHeight, int areaWidth, int areaHeight,
                              int alignment = 1);

} // namespace velmarin::video
