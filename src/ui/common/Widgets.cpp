#include "ui/common/Widgets.h"

#include <QGraphicsDropShadowEffect>
#include <QPainter>
#include <QStyleOption>
#include <QToolButton>

namespace velmarin::ui {

namespace {

constexpr int kTrackWidth = 30;
constexpr int kTrackHeight = 18;
constexpr int kGap = 8;

} // namespace

ToggleSwitch::ToggleSwitch(const QString& text, QWidget* parent)
    : QAbstractButton(parent) {
    setText(text);
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setIconSize(QSize(14, 14));
}

QSize ToggleSwitch::sizeHint() const {
    const QFontMetrics metrics(font());
    const int iconWidth = icon().isNull() ? 0 : iconSize().width() + kGap / 2;
    return {iconWidth + metrics.horizontalAdvance(text()) + kGap + kTrackWidth + 4,
            std::max(kTrackHeight, metrics.height()) + 4};
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colors = palette();
    int x = 0;
    if (!icon().isNull()) {
        const QSize size = iconSize();
        icon().paint(&painter, QRect(QPoint(x, (height() - size.height()) / 2), size));
        x += size.width() + kGap / 2;
    }
    painter.setPen(colors.color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                QPalette::WindowText));
    const QRect textRect(x, 0, width() - x - kTrackWidth - kGap, height());
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, text());

    const QRectF track(width() - kTrackWidth - 2, (height() - kTrackHeight) / 2.0, kTrackWidth,
                       kTrackHeight);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? colors.color(QPalette::Highlight)
                                 : colors.color(QPalette::Mid));
    painter.drawRoundedRect(track, kTrackHeight / 2.0, kTrackHeight / 2.0);
    const qreal knob = kTrackHeight - 4;
    const qreal knobX = isChecked() ? track.right() - knob - 2 : track.left() + 2;
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(knobX, track.top() + 2, knob, knob));
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(colors.color(QPalette::Highlight), 1.5));
        painter.drawRoundedRect(track.adjusted(-2, -2, 2, 2), kTrackHeight / 2.0 + 2,
                                kTrackHeight / 2.0 + 2);
    }
}

QColor statusColor(Status::Kind kind) {
    switch (kind) {
    case Status::Kind::info: return QColor(0x0a, 0x84, 0xff);
    case Status::Kind::error: return QColor(0xff, 0x3b, 0x30);
    case Status::Kind::disconnected: return QColor(0x8e, 0x8e, 0x93);
    case Status::Kind::registering:
    case Status::Kind::connecting:
    case Status::Kind::authenticating: return QColor(0xff, 0x95, 0x00);
    case Status::Kind::waitingForViewer: return QColor(0xff, 0xcc, 0x00);
    case Status::Kind::connected: return QColor(0x34, 0xc7, 0x59);
    }
    return Qt::gray;
}

StatusDot::StatusDot(QWidget* parent)
    : QWidget(parent) {
    setFixedSize(8, 8);
}

void StatusDot::setColor(const QColor& color) {
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void StatusDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawEllipse(rect());
}

QLabel* secondaryLabel(const QString& text, int pixelSize, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QLabel* headingLabel(const QString& text, int pixelSize, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    font.setBold(true);
    label->setFont(font);
    return label;
}

QLabel* symbolLabel(const QIcon& icon, int size, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(icon.pixmap(QSize(size, size), parent->devicePixelRatioF()));
    return label;
}

void RoundedPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(m_role));
    painter.drawRoundedRect(QRectF(rect()), m_radius, m_radius);
}

void addShadow(QWidget* widget, int alpha, qreal blurRadius, qreal offsetY) {
    auto* shadow = new QGraphicsDropShadowEffect(widget);
    shadow->setColor(QColor(0, 0, 0, alpha));
    shadow->setBlurRadius(blurRadius);
    shadow->setOffset(0, offsetY);
    widget->setGraphicsEffect(shadow);
}

void BadgeButton::setBadge(bool shown) {
    if (m_badge == shown)
        return;
    m_badge = shown;
    setAccessibleDescription(shown ? QStringLiteral("Ongelezen berichten") : QString());
    update();
}

QPointF BadgeButton::badgeCentre() const {
    return {width() - 7.0, 7.0};
}

void BadgeButton::paintEvent(QPaintEvent* event) {
    QToolButton::paintEvent(event);
    if (!m_badge)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xff, 0x3b, 0x30));
    painter.drawEllipse(badgeCentre(), 4, 4);
}

QAbstractButton* iconButton(const QIcon& icon, const QString& toolTip, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setIcon(icon);
    button->setToolTip(toolTip);
    button->setAccessibleName(toolTip);
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace velmarin::ui
