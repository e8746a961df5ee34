#pragma once

// How annotations look, on the Viewer's preview and on the Host's overlay
// alike: the spotlight's dimming with its ring, strokes with a soft glow
// under round-capped lines and a dot at a laser's head, and the Viewer's
// pointer as an arrow with a name label. Positions are normalised to
// `picture`, the rectangle the Host's screen occupies.

#include "collab/Annotation.h"

#include <QColor>
#include <QRectF>
#include <QString>

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

// The arrow's tip at `tip`; no label when `name` is empty.
void paintRemoteCursor(QPainter& painter, QPointF tip, const QString& name, double alpha);

} // namespace velmarin::ui
