#include "ui/window/AboutWindow.h"

#include "ui/common/Appearance.h"
#include "ui/common/Symbols.h"
#include "ui/common/Widgets.h"

#include <QGraphicsDropShadowEffect>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

namespace velmarin::ui {

namespace {

constexpr int kShadowMargin = 18;
constexpr qreal kCornerRadius = 12;

QLabel* link(const QString& text, const QString& url, QWidget* parent) {
    auto* label = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>").arg(url, text), parent);
    label->setOpenExternalLinks(true);
    return label;
}

} // namespace

AboutWindow::AboutWindow(const BuildInfo& info, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint) {
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(QStringLiteral("Over Velmarin"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(kShadowMargin, kShadowMargin, kShadowMargin, kShadowMargin);
    auto* card = new RoundedPanel(kCornerRadius, QPalette::Window, this);
    auto* shadow = new QGraphicsDropShadowEffect(card);
    shadow->setBlurRadius(kShadowMargin);
    shadow->setOffset(0, 3);
    shadow->setColor(QColor(0, 0, 0, 90));
    card->setGraphicsEffect(shadow);
    outer->addWidget(card);

    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(28, 12, 28, 22);
    layout->setSpacing(8);
    auto* close = iconButton(bundledSymbolIcon(Symbol::closeCircle, QColor(0x8e, 0x8e, 0x93)),
                             QStringLiteral("Sluiten"), card);
    connect(close, &QAbstractButton::clicked, this, &QWidget::close);
    layout->addWidget(close, 0, Qt::AlignRight);

    layout->addWidget(
        symbolLabel(bundledSymbolIcon(Symbol::logo, palette().color(QPalette::Highlight)), 64, card),
        0, Qt::AlignHCenter);
    layout->addWidget(headingLabel(QStringLiteral("Velmarin"), 22, card), 0, Qt::AlignHCenter);
    layout->addWidget(secondaryLabel(QStringLiteral("Hulp op afstand"), 13, card), 0,
                      Qt::AlignHCenter);
    layout->addSpacing(8);

    auto* rows = new QGridLayout;
    rows->setHorizontalSpacing(16);
    rows->addWidget(secondaryLabel(QStringLiteral("Programmaversie"), 12, card), 0, 0);
    rows->addWidget(new QLabel(info.version, card), 0, 1);
    rows->addWidget(secondaryLabel(QStringLiteral("Build"), 12, card), 1, 0);
    auto* build = new QLabel(info.build, card);
    build->setTextInteractionFlags(Qt::TextSelectableByMouse);
    rows->addWidget(build, 1, 1);
    layout->addLayout(rows);
    layout->addSpacing(8);

    auto* links = new QHBoxLayout;
    links->addStretch(1);
    links->addWidget(link(QStringLiteral("Website"), Links::website, card));
    links->addSpacing(16);
    links->addWidget(link(QStringLiteral("Privacyverklaring"), Links::privacy, card));
    links->addStretch(1);
    layout->addLayout(links);
}

void AboutWindow::present(const QRect& screenArea) {
    if (!isVisible()) {
        adjustSize();
        move(screenArea.center() - rect().center());
    }
    show();
    raise();
    activateWindow();
}

void AboutWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    QWidget::mousePressEvent(event);
}

void AboutWindow::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton)
        move(event->globalPosition().toPoint() - m_dragOffset);
    QWidget::mouseMoveEvent(event);
}

} // namespace velmarin::ui
