#include "ui/common/AnnotationPainter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>

namespace velmarin::ui {

namespace {

const QColor kPointerBlue(0x0A, 0x84, 0xFF);

QPointF place(const QRectF& picture, collab::NormalizedPoint point) {
    return {picture.left() + point.x * picture.width(), picture.top() + point.y * picture.height()};
}

QColor withAlpha(QColor color, double alpha) {
    // The colour's own alpha is replaced, not multiplied.
    color.setAlphaF(static_cast<float>(std::clamp(alpha, 0.0, 1.0)));
    return color;
}

} // namespace

QColor annotationColor(collab::RgbColor color) {
    return QColor(color.red, color.green, color.blue);
}

void paintSpotlight(QPainter& painter, const QRectF& area, const QRectF& picture,
                    collab::NormalizedPoint centre, double radius, double opacity) {
    const double r = std::min(picture.width(), picture.height()) * radius;
    const QPointF c = place(picture, centre);
    QPainterPath dimmed;
    dimmed.setFillRule(Qt::OddEvenFill);
    dimmed.addRect(area);
    dimmed.addEllipse(c, r, r);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(dimmed, withAlpha(Qt::black, opacity * 0.6));
    painter.setPen(QPen(withAlpha(Qt::white, opacity * 0.35), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(c, r, r);
    painter.restore();
}

void paintStroke(QPainter& painter, const QRectF& picture,
                 const std::vector<collab::NormalizedPoint>& points, bool laser, QColor color,
                 double alpha) {
    if (points.empty() || alpha <= collab::kInvisibleAlpha)
        return;
    QPainterPath path(place(picture, points.front()));
    if (points.size() == 1)
        path.lineTo(place(picture, points.front()) + QPointF(0.1, 0)); // a dot
    for (std::size_t i = 1; i < points.size(); ++i)
        path.lineTo(place(picture, points[i]));
    const double width = laser ? 6 : 4;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    QPen pen(withAlpha(color, alpha * 0.35), width + 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    pen.setMiterLimit(10);
    painter.strokePath(path, pen);
    pen.setColor(withAlpha(color, alpha));
    pen.setWidthF(width);
    painter.strokePath(path, pen);
    if (laser) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(withAlpha(color, alpha));
        painter.drawEllipse(place(picture, points.back()), 5, 5);
    }
    painter.restore();
}

void StrokeCache::paint(QPainter& painter, const QRectF& picture, const std::string& id,
                        const std::vector<collab::NormalizedPoint>& points, bool laser,
                        QColor color, double alpha) {
    if (points.empty() || alpha <= collab::kInvisibleAlpha)
        return;
    Entry& entry = m_entries[id];
    entry.used = true;
    if (entry.image.isNull() || entry.pointCount != points.size() || entry.color != color.rgb() ||
        entry.picture != picture) {
        m_bytes -= static_cast<std::size_t>(entry.image.sizeInBytes());
        entry.image = QImage();
        // The stroke's extent, with room for the glow and the laser's head.
        QPointF low = place(picture, points.front());
        QPointF high = low;
        for (const auto& point : points) {
            const QPointF p = place(picture, point);
            low = {std::min(low.x(), p.x()), std::min(low.y(), p.y())};
            high = {std::max(high.x(), p.x()), std::max(high.y(), p.y())};
        }
        const double margin = (laser ? 12 : 10) / 2.0 + 2;
        const QRect area =
            QRectF(low - QPointF(margin, margin), high + QPointF(margin, margin)).toAlignedRect();
        const auto bytes = static_cast<std::size_t>(area.width()) * area.height() * 4;
        entry.pointCount = points.size();
        entry.color = color.rgb();
        entry.picture = picture;
        if (m_bytes + bytes <= kMaxBytes) {
            entry.image = QImage(area.size(), QImage::Format_ARGB32_Premultiplied);
            entry.image.fill(Qt::transparent);
            entry.origin = area.topLeft();
            QPainter layer(&entry.image);
            layer.translate(-entry.origin);
            paintStroke(layer, picture, points, laser, color, 1.0);
            m_bytes += bytes;
        }
    }
    if (entry.image.isNull()) {
        paintStroke(painter, picture, points, laser, color, alpha);
        return;
    }
    painter.save();
    painter.setOpacity(alpha);
    painter.drawImage(entry.origin, entry.image);
    painter.restore();
}

void StrokeCache::endFrame() {
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (!it->second.used) {
            m_bytes -= static_cast<std::size_t>(it->second.image.sizeInBytes());
            it = m_entries.erase(it);
        } else {
            it->second.used = false;
            ++it;
        }
    }
}

void paintRemoteCursor(QPainter& painter, QPointF tip, const QString& name, double alpha) {
    const double x = tip.x();
    const double y = tip.y();
    const QPolygonF arrow{{x, y},
                          {x, y + 17},
                          {x + 4.5, y + 12.5},
                          {x + 7.5, y + 18.5},
                          {x + 10.5, y + 17},
                          {x + 7.5, y + 11},
                          {x + 12, y + 11},
                          {x, y}};
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // A soft shadow one pixel below.
    painter.setPen(Qt::NoPen);
    painter.setBrush(withAlpha(Qt::black, alpha * 0.35));
    painter.drawPolygon(arrow.translated(0, 1), Qt::WindingFill);
    painter.setBrush(withAlpha(kPointerBlue, alpha));
    painter.drawPolygon(arrow, Qt::WindingFill);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(withAlpha(Qt::white, alpha * 0.9), 1.5));
    painter.drawPolygon(arrow);
    if (!name.isEmpty()) {
        QFont font = painter.font();
        font.setPixelSize(11);
        font.setWeight(QFont::DemiBold);
        painter.setFont(font);
        const QSizeF text = QFontMetricsF(font).size(Qt::TextSingleLine, name);
        const QRectF capsule(x + 14, y + 14, text.width() + 14, text.height() + 7);
        painter.setPen(Qt::NoPen);
        painter.setBrush(withAlpha(kPointerBlue, alpha));
        painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
        painter.setPen(withAlpha(Qt::white, alpha));
        painter.drawText(capsule.adjusted(7, 3.5, -7, -3.5), Qt::AlignLeft | Qt::AlignVCenter,
                         name);
    }
    painter.restore();
}

} // namespace velmarin::ui
