#pragma once

// Small widgets the screens share: a switch, the status dot, and a text that
// people may select and copy.

#include "app/ConnectionStatus.h"

#include <QAbstractButton>
#include <QLabel>
#include <QToolButton>
#include <QWidget>

namespace velmarin::ui {

// An on/off switch with a label and an icon beside it; checkable button, so
// `toggled` reports user changes and `setChecked` sets it from the model.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT

public:
    explicit ToggleSwitch(const QString& text, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The colour of the status dot for each kind of status.
QColor statusColor(Status::Kind kind);

// An 8 × 8 filled circle.
class StatusDot : public QWidget {
    Q_OBJECT

public:
    explicit StatusDot(QWidget* parent = nullptr);
    void setColor(const QColor& color);
    const QColor& color() const { return m_color; }
    QSize sizeHint() const override { return {8, 8}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_color = Qt::gray;
};

// Text in the palette's secondary (placeholder) colour, `pixelSize` logical
// pixels high.
QLabel* secondaryLabel(const QString& text, int pixelSize, QWidget* parent = nullptr);

// Bold text, `pixelSize` logical pixels high.
QLabel* headingLabel(const QString& text, int pixelSize, QWidget* parent = nullptr);

// A symbol drawn at `size` × `size` logical pixels, sharp at the widget's
// device pixel ratio.
QLabel* symbolLabel(const QIcon& icon, int size, QWidget* parent);

// A rounded rectangle in a palette colour behind its children.
class RoundedPanel : public QWidget {
public:
    RoundedPanel(qreal radius, QPalette::ColorRole role, QWidget* parent = nullptr)
        : QWidget(parent)
        , m_radius(radius)
        , m_role(role) {}

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal m_radius;
    QPalette::ColorRole m_role;
};

// A soft drop shadow under `widget` (cards, floating panels); `alpha` is the
// shadow's opacity out of 255.
void addShadow(QWidget* widget, int alpha, qreal blurRadius, qreal offsetY);

// A tool button with a red dot at its icon's top right while something waits
// (unread chat messages).
class BadgeButton : public QToolButton {
public:
    using QToolButton::QToolButton;
    void setBadge(bool shown);
    bool badge() const { return m_badge; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // Where the dot's centre goes.
    virtual QPointF badgeCentre() const;

private:
    bool m_badge = false;
};

// A flat button that shows only its icon, with a tooltip.
QAbstractButton* iconButton(const QIcon& icon, const QString& toolTip, QWidget* parent = nullptr);

} // namespace velmarin::ui
