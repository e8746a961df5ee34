#include "collab/OverlayAnnotations.h"

#include <algorithm>
#include <cmath>

namespace velmarin::collab {

namespace {

bool finite(double x, double y) {
    return std::isfinite(x) && std::isfinite(y);
}

} // namespace

void OverlayAnnotations::apply(const protocol::DrawMessage& message, double now) {
    auto stroke = std::find_if(m_strokes.begin(), m_strokes.end(),
                               [&](const auto& s) { return s.id == message.strokeId; });
    if (stroke == m_strokes.end()) {
        if (m_strokes.size() >= kMaxStrokes)
            m_strokes.erase(m_strokes.begin());
        // Tool and colour stay as first received.
        m_strokes.push_back(OverlayStroke{.id = message.strokeId,
                                          .tool = message.tool,
                                          .color = parseAnnotationColor(message.color)});
        stroke = std::prev(m_strokes.end());
    }
    for (const protocol::DrawPoint& point : message.points)
        if (finite(point.x, point.y))
            stroke->points.push_back(clampToUnit({point.x, point.y}));
    if (stroke->points.size() > kMaxPointsPerStroke)
        stroke->points.erase(stroke->points.begin(),
                             stroke->points.end() -
                                 static_cast<std::ptrdiff_t>(kMaxPointsPerStroke));
    stroke->lastUpdate = now;
    stroke->ended = message.ended;
}

void OverlayAnnotations::setSpotlight(const protocol::SpotlightMessage& message) {
    if (!finite(message.x, message.y))
        return;
    m_spotlightPoint = clampToUnit({message.x, message.y});
    m_spotlightRadius = std::isfinite(message.radius) ? std::clamp(message.radius, 0.0, 1.0)
                                                      : kDefaultSpotlightRadius;
    m_spotlightActive = message.active;
}

void OverlayAnnotations::setCursor(NormalizedPoint point, std::string name, double now) {
    if (!finite(point.x, point.y))
        return;
    m_cursorPoint = clampToUnit(point);
    m_cursorName = std::move(name);
    m_cursorLastUpdate = now;
}

void OverlayAnnotations::clearAll() {
    m_strokes.clear();
    m_spotlightActive = false;
    m_spotlightOpacity = 0;
    m_cursorPoint.reset();
    m_cursorName.clear();
}

double OverlayAnnotations::alpha(const OverlayStroke& stroke, double now) const {
    return strokeAlpha(stroke.isLaser(), stroke.ended, now - stroke.lastUpdate);
}

std::optional<double> OverlayAnnotations::cursorAlpha(double now) const {
    if (!m_cursorPoint)
        return std::nullopt;
    const double age = now - m_cursorLastUpdate;
    if (age <= kCursorPersist)
        return 1.0;
    return std::max(0.0, 1.0 - (age - kCursorPersist) / kCursorFade);
}

bool OverlayAnnotations::tick(double now) {
    const double target = m_spotlightActive ? 1.0 : 0.0;
    if (m_spotlightOpacity != target) {
        const double step = m_spotlightOpacity < target ? kSpotlightStep : -kSpotlightStep;
        m_spotlightOpacity = std::clamp(m_spotlightOpacity + step, 0.0, 1.0);
        // A step past the target lands on it.
        if ((step > 0 && m_spotlightOpacity > target) || (step < 0 && m_spotlightOpacity < target))
            m_spotlightOpacity = target;
    }
    std::erase_if(m_strokes, [&](const auto& s) { return alpha(s, now) <= kInvisibleAlpha; });
    if (const auto cursor = cursorAlpha(now); cursor && *cursor <= kInvisibleAlpha) {
        m_cursorPoint.reset();
        m_cursorName.clear();
    }
    return !isIdle();
}

bool OverlayAnnotations::isIdle() const {
    return m_strokes.empty() && !m_spotlightActive && m_spotlightOpacity == 0 && !m_cursorPoint;
}

} // namespace velmarin::collab
