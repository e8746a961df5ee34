#pragma once

// The Viewer's own annotations: the strokes it previews over the remote
// picture and the spotlight, and every change as the message the Host
// needs (one draw message per pointer position, laser trails cut into short
// segments that fade by age). Points are normalised to the Host picture.
//
// GUI thread only. Times come from `Clock` (seconds, monotonic), so the
// fades can be driven by hand.

#include "collab/Annotation.h"
#include "protocol/ProtocolMessages.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmarin::collab {

struct AnnotationStroke {
    std::string id;
    AnnotationTool tool = AnnotationTool::pen;
    std::string colorHex;
    std::vector<NormalizedPoint> points;
    double lastUpdate = 0;
    bool ended = false;
};

class AnnotationStore {
public:
    using Clock = std::function<double()>;

    // A laser line becomes a new stroke at least this often, so its tail
    // fades while the head is still drawn.
    static constexpr double kLaserSegment = 0.12;
    static constexpr const char* kDefaultColor = "#FF3B30";

    // The steady clock in seconds.
    static double steadySeconds();

    explicit AnnotationStore(Clock clock = steadySeconds);

    AnnotationTool tool() const { return m_tool; }
    void setTool(AnnotationTool tool) { m_tool = tool; }
    const std::string& colorHex() const { return m_colorHex; }
    void setColorHex(std::string colorHex) { m_colorHex = std::move(colorHex); }

    const std::vector<AnnotationStroke>& strokes() const { return m_strokes; }
    const std::optional<NormalizedPoint>& spotlightPoint() const { return m_spotlightPoint; }
    double spotlightRadius() const { return m_spotlightRadius; }

    void addPoint(NormalizedPoint point);
    void endStroke();
    void clear();
    void updateSpotlight(NormalizedPoint point);
    void endSpotlight();
    // Drops the strokes that have faded out.
    void prune();

    double now() const { return m_clock(); }
    double alpha(const AnnotationStroke& stroke) const;
    // Something is shown or still fading: the preview keeps animating.
    bool isAnimating() const;

    std::function<void(const protocol::DrawMessage&)> onSend;
    std::function<void()> onClear;
    std::function<void(const protocol::SpotlightMessage&)> onSpotlight;
    // Strokes or spotlight changed (for repainting).
    std::function<void()> onChanged;

private:
    AnnotationStroke* activeStroke();
    void startStroke(AnnotationTool tool, NormalizedPoint point, double now);
    void changed();

    Clock m_clock;
    AnnotationTool m_tool = AnnotationTool::laser;
    std::string m_colorHex = kDefaultColor;
    std::vector<AnnotationStroke> m_strokes;
    std::optional<NormalizedPoint> m_spotlightPoint;
    double m_spotlightRadius = kDefaultSpotlightRadius;
    std::optional<std::string> m_activeStrokeId;
    std::optional<double> m_laserSegmentStarted;
};

// Eight lower-case hexadecimal characters from the system random source.
std::string makeStrokeId();

} // namespace velmarin::collab
