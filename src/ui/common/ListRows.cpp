#include "ui/common/ListRows.h"

#include "ui/common/Symbols.h"
#include "ui/common/Widgets.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmarin::ui {

HoverRow::HoverRow(QWidget* parent)
    : RoundedPanel(8, QPalette::AlternateBase, parent) {}

void HoverRow::setHoverActions(QWidget* actions) {
    m_hoverActions = actions;
    actions->setVisible(underMouse());
}

void HoverRow::enterEvent(QEnterEvent*) {
    if (m_hoverActions)
        m_hoverActions->setVisible(true);
}

void HoverRow::leaveEvent(QEvent*) {
    if (m_hoverActions)
        m_hoverActions->setVisible(false);
}

QPushButton* textButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

QWidget* deleteConfirmation(QWidget* parent, std::function<void()> remove,
                            std::function<void()> cancel) {
    auto* box = new QWidget(parent);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* confirm = textButton(QStringLiteral("Verwijderen"), box);
    confirm->setObjectName(QStringLiteral("confirmDelete"));
    confirm->setStyleSheet(QStringLiteral("color: #ff3b30;"));
    QObject::connect(confirm, &QPushButton::clicked, confirm, std::move(remove));
    auto* back = textButton(QStringLiteral("Annuleer"), box);
    QObject::connect(back, &QPushButton::clicked, back, std::move(cancel));
    layout->addWidget(confirm);
    layout->addWidget(back);
    return box;
}

QAbstractButton* deleteButton(QWidget* parent, std::function<void()> ask) {
    auto* remove = iconButton(symbolIcon(Symbol::trash), QStringLiteral("Verwijder"), parent);
    remove->setObjectName(QStringLiteral("delete"));
    QObject::connect(remove, &QAbstractButton::clicked, parent, std::move(ask));
    return remove;
}

void clearRows(QVBoxLayout* rows) {
    while (QLayoutItem* item = rows->takeAt(0)) {
        if (QWidget* row = item->widget()) {
            row->hide();
            row->setParent(nullptr);
            row->deleteLater();
        }
        delete item;
    }
}

} // namespace velmarin::ui
