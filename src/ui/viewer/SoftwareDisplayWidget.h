#pragma once

// The display view where OpenGL is not available: the picture is scaled to
// the letterbox rectangle and converted to RGB with swscale while painting.

#include "ui/viewer/DisplayView.h"
#include "video/playback/PictureScaler.h"

#include <QImage>
#include <QWidget>

namespace velmarin::ui {

class RemoteDisplayBridge;

class SoftwareDisplayWidget : public QWidget, public DisplayView {
    Q_OBJECT

public:
    explicit SoftwareDisplayWidget(RemoteDisplayBridge& bridge, QWidget* parent = nullptr);
    ~SoftwareDisplayWidget() override;

    void showPicture(const video::Picture& picture) override;
    QRectF viewBounds() const override { return QRectF(rect()); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    RemoteDisplayBridge& m_bridge;
    video::Picture m_picture;
    video::PictureScaler m_scaler;
    video::Picture m_rgb; // m_picture at the size it is drawn
    QImage m_image;       // borrows m_rgb's pixels
    bool m_imageCurrent = false;
};

} // namespace velmarin::ui
