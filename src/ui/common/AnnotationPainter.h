#pragma once

// How annotations look, on the Viewer's preview and on the Host's overlay
// alike: the spotlight's dimming with its ring, strokes with a soft glow
// under round-capped lines and a dot at a laser's head, and the Viewer's
// pointer as an arrow with a name label. Positions are normalised to
// `picture`, the rectangle the Host's screen occupies.

#include "collab/Annotation.h"

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QString>

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

class QPainter;

namespace velmarin::ui {

QColor annotationColor(collab::RgbColor color);

// Darkens `area` outside the circle around `centre` whose radius is `radius`
// of the picture's smaller side.
void paintSpotlight(QPainter& painter, const QRectF& area, const QRectF& picture,
                    collab::NormalizedPoint centre, double radius, double opacity);

void paintStroke(QPainter& painter, const QRectF& picture,
                 const std::vector<collab::NormalizedPoint>& points, bool laser, QColor color,
                 double alpha);

// Strokes drawn once at full strength and then only blended in at their
// fading alpha: antialiased wide strokes cost milliseconds each to draw,
// which fifty of them at 30 frames a second would not leave. A stroke is
// drawn again when its points, colour or the picture changed. The images
// stay within a memory bound; strokes beyond it are drawn directly.
class StrokeCache {
public:
    static constexpr std::size_t kMaxBytes = 64u << 20;

    // One frame: paint(), for each visible stroke, then endFrame().
    void paint(QPainter& painter, const QRectF& picture, const std::string& id,
               const std::vector<collab::NormalizedPoint>& points, bool laser, QColor color,
               double alpha);
    // Forgets the strokes not painted since the last endFrame().
    void endFrame();

private:
    struct Entry {
        std::size_t pointCount = 0;
        QRgb color = 0;
        QRectF picture;
        QImage image;
        QPointF origin;
        bool used = false;
    };
    std::unordered_map<std::string, Entry> m_entries;
    std::size_t m_bytes = 0;
};

// The arrow's tip at `tip`; no label when `name` is empty.
void paintRemoteCursor(QPainter& painter, QPointF tip, const QString& name, double alpha);

} // namespace velmarin::ui
