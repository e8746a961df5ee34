#include "collab/AnnotationStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

namespace velmarin::collab {

std::string makeStrokeId() {
    static thread_local std::random_device device;
    const auto value = static_cast<std::uint32_t>(device());
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

double AnnotationStore::steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

AnnotationStore::AnnotationStore(Clock clock)
    : m_clock(std::move(clock)) {}

AnnotationStroke* AnnotationStore::activeStroke() {
    if (!m_activeStrokeId)
        return nullptr;
    const auto found = std::find_if(m_strokes.begin(), m_strokes.end(),
                                    [&](const auto& s) { return s.id == *m_activeStrokeId; });
    return found == m_strokes.end() ? nullptr : &*found;
}

void AnnotationStore::startStroke(AnnotationTool tool, NormalizedPoint point, double now) {
    m_activeStrokeId = makeStrokeId();
    m_strokes.push_back(AnnotationStroke{.id = *m_activeStrokeId,
                                         .tool = tool,
                                         .colorHex = m_colorHex,
                                         .points = {point},
                                         .lastUpdate = now,
                                         .ended = false});
}

void AnnotationStore::addPoint(NormalizedPoint point) {
    point = clampToUnit(point);
    const double now = m_clock();
    AnnotationStroke* active = activeStroke();
    if (m_tool != AnnotationTool::laser) {
        if (!active)
            startStroke(AnnotationTool::pen, point, now);
    } else if (!active || !m_laserSegmentStarted || now - *m_laserSegmentStarted > kLaserSegment) {
        // The previous segment is left to fade by its age.
        startStroke(AnnotationTool::laser, point, now);
        m_laserSegmentStarted = now;
        active = nullptr;
    }
    if (active) {
        active->points.push_back(point);
        active->lastUpdate = now;
    }
    if (onSend)
        onSend(protocol::DrawMessage{.tool = std::string(toString(m_tool)),
                                     .strokeId = *m_activeStrokeId,
                                     .points = {{point.x, point.y}},
                                     .color = m_colorHex,
                                     .ended = false});
    changed();
}

void AnnotationStore::endStroke() {
    AnnotationStroke* active = activeStroke();
    if (!active)
        return;
    active->ended = true;
    active->lastUpdate = m_clock();
    if (onSend)
        onSend(protocol::DrawMessage{.tool = std::string(toString(m_tool)),
                                     .strokeId = active->id,
                                     .points = {},
                                     .color = m_colorHex,
                                     .ended = true});
    m_activeStrokeId.reset();
    m_laserSegmentStarted.reset();
    changed();
}

void AnnotationStore::clear() {
    m_strokes.clear();
    m_activeStrokeId.reset();
    if (onClear)
        onClear();
    changed();
}

void AnnotationStore::updateSpotlight(NormalizedPoint point) {
    point = clampToUnit(point);
    m_spotlightPoint = point;
    if (onSpotlight)
        onSpotlight(protocol::SpotlightMessage{
            .x = point.x, .y = point.y, .radius = m_spotlightRadius, .active = true});
    changed();
}

void AnnotationStore::endSpotlight() {
    if (!m_spotlightPoint)
        return;
    const NormalizedPoint last = *m_spotlightPoint;
    m_spotlightPoint.reset();
    if (onSpotlight)
        onSpotlight(protocol::SpotlightMessage{
            .x = last.x, .y = last.y, .radius = m_spotlightRadius, .active = false});
    changed();
}

double AnnotationStore::alpha(const AnnotationStroke& stroke) const {
    return strokeAlpha(stroke.tool == AnnotationTool::laser, stroke.ended,
                       m_clock() - stroke.lastUpdate);
}

void AnnotationStore::prune() {
    const auto before = m_strokes.size();
    std::erase_if(m_strokes, [&](const auto& s) { return alpha(s) <= kInvisibleAlpha; });
    if (m_strokes.size() != before)
        changed();
}

bool AnnotationStore::isAnimating() const {
    return m_spotlightPoint || std::any_of(m_strokes.begin(), m_strokes.end(), [&](const auto& s) {
               return alpha(s) > kInvisibleAlpha;
           });
}

void AnnotationStore::changed() {
    if (onChanged)
        onChanged();
}

} // namespace velmarin::collab
