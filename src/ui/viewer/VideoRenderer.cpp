#include "ui/viewer/VideoRenderer.h"

#include "ui/viewer/Thumbnail.h"

namespace velmarin::ui {

namespace {

bool displayable(const video::Picture& picture) {
    switch (picture.format()) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_NV12:
        return picture.width() > 0 && picture.height() > 0;
    default:
        return false;
    }
}

} // namespace

VideoRenderer::VideoRenderer(RemoteDisplayBridge& bridge, video::FrameRateMeter::Clock clock)
    : m_bridge(bridge)
    , m_frameRate(std::move(clock)) {}

void VideoRenderer::render(const video::Picture& picture) {
    if (!displayable(picture))
        return;
    if (const auto fps = m_frameRate.count(); fps && onFPSUpdate)
        onFPSUpdate(*fps);
    // Set before trying, so a failure is not retried on every picture.
    if (onFirstFrame && !m_capturedFirstFrame.exchange(true)) {
        if (QByteArray jpeg = makeThumbnail(picture); !jpeg.isEmpty())
            onFirstFrame(std::move(jpeg));
    }
    m_bridge.submitFrame(picture);
    m_frameCount.fetch_add(1);
}

void VideoRenderer::resetSession() {
    m_capturedFirstFrame.store(false);
    m_bridge.reset();
}

} // namespace velmarin::ui
