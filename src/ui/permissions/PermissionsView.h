#pragma once

// The panel of the two capabilities sharing needs, each with its state and,
// while missing, "Toestaan" and "Instellingen"; or, on a desktop where
// sharing cannot work, why not.

#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace velmarin::ui {

class PermissionManager;

class PermissionsView : public QWidget {
    Q_OBJECT

public:
    explicit PermissionsView(PermissionManager& permissions, QWidget* parent = nullptr);

private:
    void rebuild();

    PermissionManager& m_permissions;
    QVBoxLayout* m_rows = nullptr;
};

} // namespace velmarin::ui
