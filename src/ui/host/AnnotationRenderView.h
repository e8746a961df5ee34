#pragma once

// The Host's overlay contents: the Viewer's strokes, spotlight and pointer
// (kept by OverlayAnnotations), animated by a 30 Hz timer that runs only
// while something is shown or fading, and drawn over the whole window,
// which covers the captured monitor.
//
// The view maps itself while it has something to show and unmaps when it
// is idle. Without a compositing manager X shows a translucent window's
// transparent pixels as black, so there the window is shaped to the pixels
// it paints (those at least half opaque). GUI thread only.

#include "collab/OverlayAnnotations.h"
#include "ui/common/AnnotationPainter.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace velmarin::ui {

class AnnotationRenderView : public QWidget {
    Q_OBJECT

public:
    using Clock = std::function<double()>;

    explicit AnnotationRenderView(Clock clock);

    void apply(const protocol::DrawMessage& message);
    void setSpotlight(const protocol::SpotlightMessage& message);
    void setCursor(collab::NormalizedPoint point, const QString& name);
    void clearAll();

    // One animation step (the timer's, or a test's).
    void tick();
    bool isAnimating() const { return m_timer.isActive(); }
    QTimer& animationTimer() { return m_timer; }
    const collab::OverlayAnnotations& annotations() const { return m_annotations; }
    // The picture the window shows now.
    const QImage& frame() const { return m_frame; }
    // Told by the overlay window; the view maps itself only once allowed.
    void setShowAllowed(bool allowed);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void changed();
    void redraw();
    void updateVisibility(bool anythingShown);

    Clock m_clock;
    collab::OverlayAnnotations m_annotations;
    QTimer m_timer;
    QImage m_frame;
    StrokeCache m_strokeCache;
    bool m_showAllowed = false;
    bool m_composited = true;
};

// Whether a compositing manager blends translucent windows on this X
// display (false elsewhere).
bool compositingManagerRunning();

} // namespace velmarin::ui
