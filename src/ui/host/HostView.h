#pragma once

// The sharing tab: status, the ID and password a Viewer needs, the switches
// for fixed credentials and automatic start, the start/stop button, the
// latency and the chat button, with the chat panel floating above them. It
// keeps no state of its own: it shows the shared state objects and writes to
// them, and asks the coordinator to start or stop sharing through the
// command bus.

#include <QWidget>

class QAbstractButton;
class QLabel;
class QPushButton;

namespace velmarin {
class AppSettings;
class CommandBus;
class ConnectionState;
} // namespace velmarin

namespace velmarin::ui {

class ChatPanelView;
class PermissionManager;
class PermissionsView;
class StatusDot;
class ToggleSwitch;

// Shown for a missing ID and password.
inline const QString kNoIDPlaceholder = QStringLiteral("---  ---  ---");
inline const QString kNoPasswordPlaceholder = QStringLiteral("------");

class HostView : public QWidget {
    Q_OBJECT

public:
    HostView(ConnectionState& state, AppSettings& settings, PermissionManager& permissions,
             CommandBus& commands, QWidget* parent = nullptr);

protected:
    // Checks the permissions when the tab appears and polls while one is
    // missing; stops the poll when it goes.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* buildCard();
    QWidget* buildSwitches();
    QWidget* buildBottomRow();
    void toggleSharing();
    void changeFixedCredentials(bool on);
    void showStatus();
    void showCredentials();
    void showSharing();
    void showPermissions();
    void showChatBadge();
    void showChatPanel();

    ConnectionState& m_state;
    AppSettings& m_settings;
    PermissionManager& m_permissions;
    CommandBus& m_commands;

    PermissionsView* m_permissionsView = nullptr;
    QWidget* m_permissionsDivider = nullptr;
    StatusDot* m_statusDot = nullptr;
    QLabel* m_statusText = nullptr;
    QLabel* m_id = nullptr;
    QLabel* m_password = nullptr;
    ToggleSwitch* m_fixedSwitch = nullptr;
    ToggleSwitch* m_autoStartSwitch = nullptr;
    ToggleSwitch* m_loginSwitch = nullptr;
    QPushButton* m_shareButton = nullptr;
    QLabel* m_latency = nullptr;
    QAbstractButton* m_chatButton = nullptr;
    ChatPanelView* m_chatPanel = nullptr;
};

} // namespace velmarin::ui
