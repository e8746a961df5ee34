#include "ui/viewer/YuvShader.h"

#include "video/playback/PictureScaler.h"

namespace velmarin::ui {

// GLSL that compiles as desktop GLSL 1.10+ and as GLSL ES 1.00.
const char* const kYuvVertexShader = R"(
attribute vec2 position;
attribute vec2 texCoord;
varying vec2 v_texCoord;
void main() {
    gl_Position = vec4(position, 0.0, 1.0);
    v_texCoord = texCoord;
}
)";

// NV12 keeps U and V interleaved in one luminance-alpha texture.
const char* const kYuvFragmentShader = R"(
#ifdef GL_ES
precision mediump float;
#endif
varying vec2 v_texCoord;
uniform sampler2D texY;
uniform sampler2D texU;
uniform sampler2D texV;
uniform float interleavedChroma;
uniform mat3 yuvToRgb;
uniform vec3 yuvOffset;
void main() {
    float y = texture2D(texY, v_texCoord).r;
    vec4 u = texture2D(texU, v_texCoord);
    float v = mix(texture2D(texV, v_texCoord).r, u.a, interleavedChroma);
    vec3 rgb = yuvToRgb * (vec3(y, u.r, v) - yuvOffset);
    gl_FragColor = vec4(clamp(rgb, 0.0, 1.0), 1.0);
}
)";

YuvConversion yuvConversion(const video::Picture& picture) {
    const bool full = video::isFullRange(picture);
    const bool bt709 = !picture.isNull() && picture.avFrame()->colorspace == AVCOL_SPC_BT709;
    // Kr/Kb of the two standards; the matrix is the inverse of their
    // RGB → YCbCr definition, scaled for the range.
    const float kr = bt709 ? 0.2126f : 0.299f;
    const float kb = bt709 ? 0.0722f : 0.114f;
    const float kg = 1.0f - kr - kb;
    const float ys = full ? 1.0f : 255.0f / 219.0f;
    const float cs = full ? 1.0f : 255.0f / 224.0f;
    const float rv = 2.0f * (1.0f - kr) * cs;
    const float bu = 2.0f * (1.0f - kb) * cs;
    const float gu = -bu * kb / kg;
    const float gv = -rv * kr / kg;
    const float rows[9] = {ys, 0.0f, rv, ys, gu, gv, ys, bu, 0.0f};
    return {QMatrix3x3(rows),
            QVector3D(full ? 0.0f : 16.0f / 255.0f, 128.0f / 255.0f, 128.0f / 255.0f)};
}

} // namespace velmarin::ui
