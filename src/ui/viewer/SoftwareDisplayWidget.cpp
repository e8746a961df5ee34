#include "ui/viewer/SoftwareDisplayWidget.h"

#include "video/playback/AspectFit.h"

#include <QPainter>

#include <cmath>

namespace velmarin::ui {

SoftwareDisplayWidget::SoftwareDisplayWidget(RemoteDisplayBridge& bridge, QWidget* parent)
    : DisplayWidgetBase(bridge, parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    attachToBridge();
}

void SoftwareDisplayWidget::showPicture(const video::Picture& picture) {
    m_picture = picture;
    m_imageCurrent = false;
    update();
}

void SoftwareDisplayWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_picture.isNull())
        return;
    const qreal ratio = devicePixelRatioF();
    const protocol::PixelRect fit = video::aspectFit(
        m_picture.width(), m_picture.height(), static_cast<int>(std::lround(width() * ratio)),
        static_cast<int>(std::lround(height() * ratio)));
    if (fit.width <= 0 || fit.height <= 0)
        return;
    if (!m_imageCurrent || m_image.size() != QSize(fit.width, fit.height)) {
        // swscale may write a little past each row: convert into a padded
        // frame and let the image borrow its pixels. Format_RGB32 is BGRA in
        // memory on little-endian machines.
        m_rgb = m_scaler.scaled(m_picture, fit.width, fit.height, AV_PIX_FMT_BGRA);
        if (m_rgb.isNull())
            return;
        m_image =
            QImage(m_rgb.plane(0), fit.width, fit.height, m_rgb.stride(0), QImage::Format_RGB32);
        m_image.setDevicePixelRatio(ratio);
        m_imageCurrent = true;
    }
    painter.drawImage(QPointF(fit.x / ratio, fit.y / ratio), m_image);
}

} // namespace velmarin::ui
