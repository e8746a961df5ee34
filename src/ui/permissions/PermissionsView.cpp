#include "ui/permissions/PermissionsView.h"

#include "ui/common/Symbols.h"
#include "ui/common/Widgets.h"
#include "ui/permissions/PermissionManager.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <functional>

namespace velmarin::ui {

namespace {

struct PermissionRow {
    QString title;
    QString description;
    bool isGranted = false;
    std::function<void()> onRequest;
    std::function<void()> onOpenSettings;
};

QWidget* rowWidget(const PermissionRow& row, QWidget* parent) {
    auto* widget = new QWidget(parent);
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 2, 0, 2);
    auto* icon = symbolLabel(row.isGranted
                                 ? bundledSymbolIcon(Symbol::checkCircle, QColor(0x34, 0xc7, 0x59))
                                 : bundledSymbolIcon(Symbol::closeCircle, QColor(0xff, 0x3b, 0x30)),
                             18, widget);
    icon->setAccessibleName(row.isGranted ? QStringLiteral("Toegestaan")
                                          : QStringLiteral("Niet toegestaan"));
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(0);
    auto* title = new QLabel(row.title, widget);
    texts->addWidget(title);
    auto* description = secondaryLabel(row.description, 11, widget);
    description->setWordWrap(true);
    texts->addWidget(description);
    layout->addLayout(texts, 1);
    if (!row.isGranted) {
        auto* allow = new QPushButton(QStringLiteral("Toestaan"), widget);
        allow->setDefault(true);
        QObject::connect(allow, &QPushButton::clicked, widget, row.onRequest);
        auto* settings = new QPushButton(QStringLiteral("Instellingen"), widget);
        QObject::connect(settings, &QPushButton::clicked, widget, row.onOpenSettings);
        layout->addWidget(allow);
        layout->addWidget(settings);
    }
    return widget;
}

} // namespace

PermissionsView::PermissionsView(PermissionManager& permissions, QWidget* parent)
    : QWidget(parent)
    , m_permissions(permissions) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(headingLabel(QStringLiteral("Permissies Vereist"), 15, this));
    m_rows = new QVBoxLayout;
    layout->addLayout(m_rows);
    connect(&m_permissions, &PermissionManager::changed, this, &PermissionsView::rebuild);
    rebuild();
}

void PermissionsView::rebuild() {
    while (QLayoutItem* item = m_rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (const auto& reason = m_permissions.unsupportedReason()) {
        auto* text = new QLabel(*reason, this);
        text->setWordWrap(true);
        m_rows->addWidget(text);
        return;
    }
    m_rows->addWidget(secondaryLabel(
        QStringLiteral("Velmarin heeft de volgende permissies nodig om te werken:"), 12, this));
    PermissionManager& p = m_permissions;
    m_rows->addWidget(rowWidget({QStringLiteral("Schermopname"),
                                 QStringLiteral("Nodig om je scherm te delen"),
                                 p.screenRecordingGranted(), [&p] { p.requestScreenRecording(); },
                                 [&p] { p.openScreenRecordingSettings(); }},
                                this));
    m_rows->addWidget(rowWidget({QStringLiteral("Toegankelijkheid"),
                                 QStringLiteral("Nodig voor remote muis- en toetsenbordbediening"),
                                 p.accessibilityGranted(), [&p] { p.requestAccessibility(); },
                                 [&p] { p.openAccessibilitySettings(); }},
                                this));
}

} // namespace velmarin::ui
