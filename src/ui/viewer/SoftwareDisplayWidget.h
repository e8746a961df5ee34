#pragma once

// The display view where OpenGL is not available: the picture is scaled to
// the letterbox rectangle and converted to RGB with swscale while painting.

#include "ui/viewer/DisplayWidgetBase.h"
#include "video/playback/PictureScaler.h"

#include <QImage>
#include <QWidget>

namespace velmarin::ui {

class SoftwareDisplayWidget : public DisplayWidgetBase<QWidget> {
    Q_OBJECT

public:
    explicit SoftwareDisplayWidget(RemoteDisplayBridge& bridge, QWidget* parent = nullptr);

    void showPicture(const video::Picture& picture) override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    video::Picture m_picture;
    video::PictureScaler m_scaler;
    video::Picture m_rgb; // m_picture at the size it is drawn
    QImage m_image;       // borrows m_rgb's pixels
    bool m_imageCurrent = false;
};

} // namespace velmarin::ui
