#pragma once

// The shader that turns YUV 4:2:0 textures into RGB while drawing, and the
// colour matrix for a picture.

#include "video/Picture.h"

#include <QGenericMatrix>
#include <QVector3D>

namespace velmarin::ui {

extern const char* const kYuvVertexShader;
extern const char* const kYuvFragmentShader;

struct YuvConversion {
    QMatrix3x3 matrix; // applied to (Y, U, V) after the offset
    QVector3D offset;  // subtracted from the sampled (Y, U, V)
};

// BT.601 unless the picture says BT.709; limited range unless it says full.
YuvConversion yuvConversion(const video::Picture& picture);

} // namespace velmarin::ui
