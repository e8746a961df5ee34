#include "ui/host/AnnotationOverlayWindow.h"

#include <QGuiApplication>
#include <QRectF>
#include <QScreen>

#include <chrono>

namespace velmarin::ui {

double AnnotationOverlayWindow::steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

AnnotationOverlayWindow::AnnotationOverlayWindow(AreaSource capturedArea,
                                                 AnnotationRenderView::Clock clock)
    : m_capturedArea(std::move(capturedArea))
    , m_view(std::make_unique<AnnotationRenderView>(std::move(clock))) {
    m_view->setGeometry(targetGeometry());
    // The view follows the captured monitor at each animation step too.
    QObject::connect(&m_view->animationTimer(), &QTimer::timeout, m_view.get(),
                     [this] { followCapturedArea(); });
}

AnnotationOverlayWindow::~AnnotationOverlayWindow() = default;

QRect AnnotationOverlayWindow::targetGeometry() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (m_capturedArea)
        if (const auto area = m_capturedArea(); area && !area->isEmpty()) {
            // The capture counts device pixels, window geometry counts
            // logical ones (the same unless the desktop is scaled).
            const double ratio = screen ? screen->devicePixelRatio() : 1.0;
            return QRectF(area->x() / ratio, area->y() / ratio, area->width() / ratio,
                          area->height() / ratio)
                .toAlignedRect();
        }
    if (screen)
        return screen->geometry();
    return {0, 0, 1920, 1080};
}

void AnnotationOverlayWindow::followCapturedArea() {
    const QRect target = targetGeometry();
    if (m_view->geometry() != target)
        m_view->setGeometry(target);
}

void AnnotationOverlayWindow::ensureWindow() {
    followCapturedArea();
    if (!m_windowCreated) {
        // The native window exists from here on (its id is what the capture
        // leaves out); it is mapped while there is something to show.
        m_view->winId();
        m_windowCreated = true;
    }
    m_view->setShowAllowed(true);
}

std::optional<std::uint32_t> AnnotationOverlayWindow::windowId() const {
    if (!m_windowCreated)
        return std::nullopt;
    return static_cast<std::uint32_t>(m_view->winId());
}

void AnnotationOverlayWindow::apply(const protocol::DrawMessage& message) {
    ensureWindow();
    m_view->apply(message);
}

void AnnotationOverlayWindow::clearStrokes() {
    m_view->clearAll();
}

void AnnotationOverlayWindow::setSpotlight(const protocol::SpotlightMessage& message) {
    followCapturedArea();
    m_view->setSpotlight(message);
}

void AnnotationOverlayWindow::showRemoteCursor(double x, double y, const QString& label) {
    followCapturedArea();
    m_view->setCursor({x, y}, label);
}

void AnnotationOverlayWindow::hide() {
    m_view->clearAll();
    m_view->setShowAllowed(false);
}

} // namespace velmarin::ui
