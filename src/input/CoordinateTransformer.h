#pragma once

// Pointer positions travel as normalised Host coordinates: x and y from 0 to
// 1, origin top-left, y downwards. The Viewer maps its display view into that
// space; the Host maps it back into the rectangle of the monitor it captures.

#include "protocol/PixelRect.h"

#include <QPointF>
#include <QSizeF>

#include <optional>

namespace velmarin::input {

struct CoordinateTransformer {
    QSizeF hostScreenSize{1920.0, 1080.0};

    // The normalised position of `point` (view units, origin top-left), or
    // nothing when it lies outside the picture letterboxed into `viewSize`.
    std::optional<QPointF> viewerToNormalized(QPointF point, QSizeF viewSize) const;

    // The nearest normalised position inside the picture: for a release that
    // must reach the Host even when the pointer left the picture.
    std::optional<QPointF> viewerToNormalizedClamped(QPointF point, QSizeF viewSize) const;
};

// The Host pixel for a normalised position inside `area` (where the captured
// monitor lies on the X screen). Coordinates outside [0, 1] are clamped, and
// 1.0 lands on the last pixel of the area, never on the first pixel of the
// monitor beside it. Nothing for positions that are not finite numbers.
std::optional<QPoint> normalizedToScreen(double x, double y, const protocol::PixelRect& area);

} // namespace velmarin::input
