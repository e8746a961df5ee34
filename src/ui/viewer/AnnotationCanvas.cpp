#include "ui/viewer/AnnotationCanvas.h"

#include "ui/common/AnnotationPainter.h"
#include "ui/viewer/DisplayView.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace velmarin::ui {

using collab::AnnotationTool;

namespace {

constexpr int kFrameMs = 33;
constexpr int kPruneMs = 500;

bool usable(QSizeF size) {
    return std::isfinite(size.width()) && std::isfinite(size.height()) && size.width() > 0 &&
           size.height() > 0;
}

} // namespace

QRectF letterboxedPicture(QSizeF hostSize, QSizeF viewSize) {
    if (!usable(hostSize) || !usable(viewSize))
        return {QPointF(0, 0), viewSize};
    const double hostAspect = hostSize.width() / hostSize.height();
    if (viewSize.width() / viewSize.height() < hostAspect) {
        const double height = viewSize.width() / hostAspect;
        return {0.0, (viewSize.height() - height) * 0.5, viewSize.width(), height};
    }
    const double width = hostAspect * viewSize.height();
    return {(viewSize.width() - width) * 0.5, 0.0, width, viewSize.height()};
}

AnnotationCanvas::AnnotationCanvas(collab::AnnotationStore& store,
                                   std::function<QSizeF()> hostScreenSize, QWidget* display)
    : QWidget(display)
    , m_store(store)
    , m_hostScreenSize(std::move(hostScreenSize))
    , m_display(display) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setMouseTracking(true);
    setGeometry(display->rect());
    display->installEventFilter(this);
    m_store.onChanged = [this] { changed(); };
    m_animation.setInterval(kFrameMs);
    connect(&m_animation, &QTimer::timeout, this, &AnnotationCanvas::animate);
    m_prune.setInterval(kPruneMs);
    connect(&m_prune, &QTimer::timeout, this, [this] { m_store.prune(); });
    m_prune.start();
    raise();
    show();
}

AnnotationCanvas::~AnnotationCanvas() {
    m_store.onChanged = nullptr;
    if (auto* view = dynamic_cast<DisplayView*>(m_display))
        view->captureSuspended = false;
}

void AnnotationCanvas::setTool(std::optional<AnnotationTool> tool) {
    if (m_dragging)
        m_store.endStroke();
    m_dragging = false;
    m_tool = tool;
    m_store.setTool(tool.value_or(AnnotationTool::laser));
    if (tool != AnnotationTool::spotlight)
        m_store.endSpotlight();
    setAttribute(Qt::WA_TransparentForMouseEvents, !tool);
    if (auto* view = dynamic_cast<DisplayView*>(m_display))
        view->captureSuspended = tool.has_value();
    setCursor(tool ? Qt::CrossCursor : Qt::ArrowCursor);
}

QRectF AnnotationCanvas::pictureRect() const {
    return letterboxedPicture(m_hostScreenSize ? m_hostScreenSize() : QSizeF(), QSizeF(size()));
}

collab::NormalizedPoint AnnotationCanvas::normalize(QPointF position) const {
    const QRectF picture = pictureRect();
    if (picture.isEmpty())
        return {};
    // The store clamps: a drag into the bars stays on the picture's edge.
    return {(position.x() - picture.left()) / picture.width(),
            (position.y() - picture.top()) / picture.height()};
}

bool AnnotationCanvas::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_display && event->type() == QEvent::Resize)
        setGeometry(m_display->rect());
    return QWidget::eventFilter(watched, event);
}

void AnnotationCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_tool || *m_tool == AnnotationTool::spotlight)
        return;
    m_dragging = true;
    m_store.addPoint(normalize(event->position()));
}

void AnnotationCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (!m_tool)
        return;
    if (*m_tool == AnnotationTool::spotlight)
        m_store.updateSpotlight(normalize(event->position()));
    else if (m_dragging)
        m_store.addPoint(normalize(event->position()));
}

void AnnotationCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_dragging)
        return;
    m_dragging = false;
    m_store.endStroke();
}

void AnnotationCanvas::changed() {
    if (m_store.isAnimating() && !m_animation.isActive())
        m_animation.start();
    update();
}

void AnnotationCanvas::animate() {
    // One more frame after the last fade, so it ends on an empty picture.
    if (!m_store.isAnimating())
        m_animation.stop();
    update();
}

void AnnotationCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF picture = pictureRect();
    if (const auto& spot = m_store.spotlightPoint())
        paintSpotlight(painter, QRectF(rect()), picture, *spot, m_store.spotlightRadius(), 1.0);
    for (const collab::AnnotationStroke& stroke : m_store.strokes())
        m_strokeCache.paint(
            painter, picture, stroke.id, stroke.points, stroke.tool == AnnotationTool::laser,
            annotationColor(collab::parseAnnotationColor(stroke.colorHex)), m_store.alpha(stroke));
    m_strokeCache.endFrame();
}

} // namespace velmarin::ui
