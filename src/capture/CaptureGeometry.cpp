#include "capture/CaptureGeometry.h"

namespace velmarin::capture {

PictureSize captureSizeFor(int width, int height) {
    PictureSize size{width, height};
    if (width > kMaxCaptureWidth || height > kMaxCaptureHeight) {
        const double scale = std::min(static_cast<double>(kMaxCaptureWidth) / width,
                                      static_cast<double>(kMaxCaptureHeight) / height);
        size.width = static_cast<int>(width * scale);
        size.height = static_cast<int>(height * scale);
    }
    size.width = std::max(2, size.width & ~1);
    size.height = std::max(2, size.height & ~1);
    return size;
}

} // namespace velmarin::capture
