#pragma once

// The Host's annotation overlay: a frameless, translucent, always-on-top
// window that takes no input (clicks reach the windows below) and covers
// the monitor being captured, following a switch to another monitor. The
// capture leaves it out of the picture, so the Viewer does not get its own
// strokes back in the video. GUI thread only.

#include "interfaces/SessionComponents.h"
#include "ui/host/AnnotationRenderView.h"

#include <QRect>

#include <functional>
#include <memory>
#include <optional>

namespace velmarin::ui {

class AnnotationOverlayWindow final : public AnnotationOverlay {
public:
    // Where the captured monitor lies on the X screen, in device pixels;
    // nothing while none is captured (the primary screen is covered then).
    using AreaSource = std::function<std::optional<QRect>()>;

    explicit AnnotationOverlayWindow(AreaSource capturedArea,
                                     AnnotationRenderView::Clock clock = steadySeconds);
    ~AnnotationOverlayWindow() override;

    void ensureWindow() override;
    std::optional<std::uint32_t> windowId() const override;
    void apply(const protocol::DrawMessage& message) override;
    void clearStrokes() override;
    void setSpotlight(const protocol::SpotlightMessage& message) override;
    void showRemoteCursor(double x, double y, const QString& label) override;
    void hide() override;

    AnnotationRenderView& renderView() { return *m_view; }
    // The rectangle the window covers (or will cover).
    QRect targetGeometry() const;

    static double steadySeconds();

private:
    void followCapturedArea();

    AreaSource m_capturedArea;
    std::unique_ptr<AnnotationRenderView> m_view;
    bool m_windowCreated = false;
};

} // namespace velmarin::ui
