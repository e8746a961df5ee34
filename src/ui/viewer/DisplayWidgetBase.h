#pragma once

// What both display widgets do around their drawing: the user's mouse,
// wheel, keys and dropped files go to the bridge, Tab stays with the remote
// computer, and showing the widget makes it the view with the picture.
// `Surface` is the Qt widget class the picture is drawn on.

#include "ui/viewer/DisplayView.h"
#include "ui/viewer/DisplayViewEvents.h"
#include "ui/viewer/RemoteDisplayBridge.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRectF>
#include <QShowEvent>
#include <QWheelEvent>
#include <QWidget>

namespace velmarin::ui {

template <class Surface> class DisplayWidgetBase : public Surface, public DisplayView {
public:
    ~DisplayWidgetBase() override { m_bridge.detachView(this); }

    QRectF viewBounds() const override { return QRectF(this->rect()); }

protected:
    DisplayWidgetBase(RemoteDisplayBridge& bridge, QWidget* parent)
        : Surface(parent)
        , m_bridge(bridge) {
        prepareDisplayWidget(*this);
    }

    // Called at the end of the derived constructor: attaching shows the
    // latest picture, which needs the whole widget.
    void attachToBridge() { m_bridge.attachView(this); }

    void showEvent(QShowEvent* event) override {
        // Appearing again (a new session, another layout) makes it the view
        // that shows the picture.
        attachToBridge();
        Surface::showEvent(event);
    }
    void mousePressEvent(QMouseEvent* event) override { forwardMouse(*this, event); }
    void mouseReleaseEvent(QMouseEvent* event) override { forwardMouse(*this, event); }
    void mouseMoveEvent(QMouseEvent* event) override { forwardMouse(*this, event); }
    void mouseDoubleClickEvent(QMouseEvent* event) override { forwardMouse(*this, event); }
    void wheelEvent(QWheelEvent* event) override { forwardMouse(*this, event); }
    void keyPressEvent(QKeyEvent* event) override { forwardKey(*this, event); }
    void keyReleaseEvent(QKeyEvent* event) override { forwardKey(*this, event); }
    // Tab belongs to the remote computer.
    bool focusNextPrevChild(bool) override { return false; }
    void dragEnterEvent(QDragEnterEvent* event) override { acceptFileDrag(event); }
    void dropEvent(QDropEvent* event) override { forwardDrop(*this, event); }

private:
    RemoteDisplayBridge& m_bridge;
};

} // namespace velmarin::ui
