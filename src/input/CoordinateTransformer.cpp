#include "input/CoordinateTransformer.h"

#include <QPoint>
#include <QRectF>

#include <algorithm>
#include <cmath>

namespace velmarin::input {

namespace {

// The part of the view that the Host picture fills, aspect ratio kept.
QRectF contentRect(QSizeF hostSize, QSizeF viewSize) {
    const double hostAspect = hostSize.width() / hostSize.height();
    const double viewAspect = viewSize.width() / viewSize.height();
    if (viewAspect < hostAspect) {
        const double height = viewSize.width() / hostAspect;
        return {0.0, (viewSize.height() - height) * 0.5, viewSize.width(), height};
    }
    const double width = hostAspect * viewSize.height();
    return {(viewSize.width() - width) * 0.5, 0.0, width, viewSize.height()};
}

double clampUnit(double value) {
    value = std::min(value, 1.0);
    return value < 0.0 ? 0.0 : value;
}

bool usable(QSizeF size) {
    return std::isfinite(size.width()) && std::isfinite(size.height()) && size.width() > 0 &&
           size.height() > 0;
}

} // namespace

std::optional<QPointF> CoordinateTransformer::viewerToNormalized(QPointF point,
                                                                 QSizeF viewSize) const {
    if (!usable(hostScreenSize) || !usable(viewSize))
        return std::nullopt;
    const QRectF content = contentRect(hostScreenSize, viewSize);
    // Half-open: the right and bottom edges belong to the bar beyond.
    if (!(point.x() >= content.left() && point.x() < content.left() + content.width() &&
          point.y() >= content.top() && point.y() < content.top() + content.height()))
        return std::nullopt;
    return QPointF(clampUnit((point.x() - content.left()) / content.width()),
                   clampUnit((point.y() - content.top()) / content.height()));
}

std::optional<QPointF> CoordinateTransformer::viewerToNormalizedClamped(QPointF point,
                                                                        QSizeF viewSize) const {
    if (!usable(hostScreenSize) || !usable(viewSize) || !std::isfinite(point.x()) ||
        !std::isfinite(point.y()))
        return std::nullopt;
    const QRectF content = contentRect(hostScreenSize, viewSize);
    return QPointF(clampUnit((point.x() - content.left()) / content.width()),
                   clampUnit((point.y() - content.top()) / content.height()));
}

std::optional<QPoint> normalizedToScreen(double x, double y, const protocol::PixelRect& area) {
    if (!std::isfinite(x) || !std::isfinite(y) || area.isEmpty())
        return std::nullopt;
    const auto place = [](double unit, int origin, int extent) {
        const double offset = std::floor(std::clamp(unit, 0.0, 1.0) * extent);
        return origin + std::min(static_cast<int>(offset), extent - 1);
    };
    return QPoint(place(x, area.x, area.width), place(y, area.y, area.height));
}

} // namespace velmarin::input
