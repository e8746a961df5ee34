#pragma once

// The Viewer's annotation layer, stacked over the remote display widget and
// kept at its size. It previews the store's strokes and spotlight, and while
// a tool is selected it takes the mouse: the display then forwards no
// pointer input to the Host until the tool is cleared.
//
// Positions are normalised to the picture inside the letterbox, the same
// rectangle pointer positions use, so a stroke lands on the Host where it
// was drawn whatever the shape of the Viewer's window. GUI thread only.

#include "collab/AnnotationStore.h"
#include "ui/common/AnnotationPainter.h"

#include <QRectF>
#include <QSizeF>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>

namespace velmarin::ui {

// Where a Host screen of `hostSize` shows inside `viewSize`, aspect kept.
QRectF letterboxedPicture(QSizeF hostSize, QSizeF viewSize);

class AnnotationCanvas : public QWidget {
    Q_OBJECT

public:
    // `display` is the remote display widget (a DisplayView); the canvas
    // becomes its child. `hostScreenSize` answers the size the Host
    // reported last.
    AnnotationCanvas(collab::AnnotationStore& store, std::function<QSizeF()> hostScreenSize,
                     QWidget* display);
    ~AnnotationCanvas() override;

    // Nothing turns annotation off and gives the pointer back to the Host.
    void setTool(std::optional<collab::AnnotationTool> tool);
    std::optional<collab::AnnotationTool> tool() const { return m_tool; }

    QRectF pictureRect() const;
    // `position` in canvas coordinates, normalised to the picture.
    collab::NormalizedPoint normalize(QPointF position) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void changed();
    void animate();

    collab::AnnotationStore& m_store;
    std::function<QSizeF()> m_hostScreenSize;
    QWidget* m_display;
    std::optional<collab::AnnotationTool> m_tool;
    bool m_dragging = false;
    StrokeCache m_strokeCache;
    QTimer m_animation;
    QTimer m_prune;
};

} // namespace velmarin::ui
