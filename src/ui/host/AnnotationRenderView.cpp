#include "ui/host/AnnotationRenderView.h"

#include "ui/common/AnnotationPainter.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace velmarin::ui {

namespace {

constexpr int kFrameMs = 33; // 30 Hz

} // namespace

bool compositingManagerRunning() {
    const auto* x11 =
        qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return true; // not X11: the platform blends
    xcb_connection_t* c = x11->connection();
    // The selection a compositing manager owns for screen 0.
    const std::string name = "_NET_WM_CM_S0";
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
            nullptr),
        &std::free);
    if (!atom)
        return false;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr),
        &std::free);
    return owner && owner->owner != XCB_NONE;
}

AnnotationRenderView::AnnotationRenderView(Clock clock)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::X11BypassWindowManagerHint | Qt::WindowTransparentForInput |
                           Qt::WindowDoesNotAcceptFocus | Qt::Tool)
    , m_clock(std::move(clock)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setWindowTitle(QStringLiteral("Velmarin annotations"));
    m_timer.setInterval(kFrameMs);
    connect(&m_timer, &QTimer::timeout, this, &AnnotationRenderView::tick);
}

void AnnotationRenderView::apply(const protocol::DrawMessage& message) {
    m_annotations.apply(message, m_clock());
    changed();
}

void AnnotationRenderView::setSpotlight(const protocol::SpotlightMessage& message) {
    m_annotations.setSpotlight(message);
    changed();
}

void AnnotationRenderView::setCursor(collab::NormalizedPoint point, const QString& name) {
    m_annotations.setCursor(point, name.toStdString(), m_clock());
    changed();
}

void AnnotationRenderView::clearAll() {
    // The timer stops itself at its next tick.
    m_annotations.clearAll();
    redraw();
}

void AnnotationRenderView::setShowAllowed(bool allowed) {
    m_showAllowed = allowed;
    if (allowed)
        m_composited = compositingManagerRunning();
    redraw();
}

void AnnotationRenderView::changed() {
    if (!m_timer.isActive() && !m_annotations.isIdle())
        m_timer.start();
    redraw();
}

void AnnotationRenderView::tick() {
    if (!m_annotations.tick(m_clock()))
        m_timer.stop();
    redraw();
}

void AnnotationRenderView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    redraw();
}

void AnnotationRenderView::redraw() {
    const double now = m_clock();
    if (m_frame.size() != size())
        m_frame = QImage(size(), QImage::Format_ARGB32_Premultiplied);
    m_frame.fill(Qt::transparent);
    {
        QPainter painter(&m_frame);
        const QRectF bounds(m_frame.rect());
        const collab::OverlayAnnotations& a = m_annotations;
        if (a.spotlightOpacity() > collab::kInvisibleAlpha)
            paintSpotlight(painter, bounds, bounds, a.spotlightPoint(), a.spotlightRadius(),
                           a.spotlightOpacity());
        for (const collab::OverlayStroke& stroke : a.strokes())
            m_strokeCache.paint(painter, bounds, stroke.id, stroke.points, stroke.isLaser(),
                                annotationColor(stroke.color), a.alpha(stroke, now));
        m_strokeCache.endFrame();
        if (const auto alpha = a.cursorAlpha(now); alpha && *alpha > collab::kInvisibleAlpha)
            paintRemoteCursor(
                painter,
                {a.cursorPoint()->x * bounds.width(), a.cursorPoint()->y * bounds.height()},
                QString::fromStdString(a.cursorName()), *alpha);
    }
    bool anythingShown = !m_annotations.isIdle();
    if (!m_composited && anythingShown) {
        const QRegion shape(QBitmap::fromImage(m_frame.createAlphaMask(Qt::ThresholdAlphaDither)));
        // An empty mask would mean no shape at all: a black window.
        anythingShown = !shape.isEmpty();
        if (anythingShown)
            setMask(shape);
    }
    updateVisibility(anythingShown);
    update();
}

void AnnotationRenderView::updateVisibility(bool anythingShown) {
    const bool show = m_showAllowed && anythingShown;
    if (show != isVisible())
        setVisible(show);
}

void AnnotationRenderView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const QRect& rect : event->region())
        painter.drawImage(rect, m_frame, rect);
}

} // namespace velmarin::ui
