#pragma once

// Where a picture goes inside an area when it is shown whole with its aspect
// ratio kept, centred, the rest left black (letterboxed).

namespace velmarin::video {

struct FitRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const FitRect&) const = default;
};

// `alignment` rounds position and size down to a multiple (2 keeps chroma
// planes of 4:2:0 pictures aligned). Empty when either size is not positive.
FitRect aspectFit(int pictureWidth, int pictureHeight, int areaWidth, int areaHeight,
                  int alignment = 1);

} // namespace velmarin::video
