#pragma once

// What the Host's overlay shows of the Viewer's annotations: the received
// strokes merged by identifier, the spotlight with its fade, and the
// Viewer's pointer with its label; and how each fades over time. Bounded:
// a Viewer that sends endless strokes or points makes the oldest go, and
// positions that are not numbers are ignored.
//
// GUI thread only; times are seconds of a monotonic clock, passed in.

#include "collab/Annotation.h"
#include "protocol/ProtocolMessages.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace velmarin::collab {

struct OverlayStroke {
    std::string id;
    std::string tool; // as received
    RgbColor color;
    std::vector<NormalizedPoint> points;
    double lastUpdate = 0;
    bool ended = false;
    bool isLaser() const { return tool == "laser"; }
};

class OverlayAnnotations {
public:
    // A pen held down for minutes at a high event rate stays well inside.
    static constexpr std::size_t kMaxPointsPerStroke = 4096;
    static constexpr std::size_t kMaxStrokes = 256;
    static constexpr double kCursorPersist = 2.0;
    static constexpr double kCursorFade = 0.6;
    // Spotlight fade per animation tick.
    static constexpr double kSpotlightStep = 0.15;
    static constexpr double kDimLevel = 0.6;

    void apply(const protocol::DrawMessage& message, double now);
    void setSpotlight(const protocol::SpotlightMessage& message);
    void setCursor(NormalizedPoint point, std::string name, double now);
    // Forgets strokes, spotlight and pointer.
    void clearAll();

    // One animation step at `now`: fades the spotlight, drops faded strokes
    // and the faded pointer. False when nothing is left to show or fade.
    bool tick(double now);
    bool isIdle() const;

    double alpha(const OverlayStroke& stroke, double now) const;
    // The pointer's visibility, nothing when there is none.
    std::optional<double> cursorAlpha(double now) const;

    const std::vector<OverlayStroke>& strokes() const { return m_strokes; }
    bool spotlightActive() const { return m_spotlightActive; }
    NormalizedPoint spotlightPoint() const { return m_spotlightPoint; }
    double spotlightRadius() const { return m_spotlightRadius; }
    double spotlightOpacity() const { return m_spotlightOpacity; }
    const std::optional<NormalizedPoint>& cursorPoint() const { return m_cursorPoint; }
    const std::string& cursorName() const { return m_cursorName; }

private:
    std::vector<OverlayStroke> m_strokes; // oldest first, drawn in this order
    bool m_spotlightActive = false;
    NormalizedPoint m_spotlightPoint;
    double m_spotlightRadius = kDefaultSpotlightRadius;
    double m_spotlightOpacity = 0;
    std::optional<NormalizedPoint> m_cursorPoint;
    std::string m_cursorName;
    double m_cursorLastUpdate = 0;
};

} // namespace velmarin::collab
