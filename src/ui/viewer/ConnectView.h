#pragma once

// The connecting tab: partner ID and password, "Verbinden", and below it the
// recent connections for a one-click reconnect with the stored password.
// The screen only fills in the connection state and posts "startViewing";
// the Viewer session does the rest. The recent connections manager holds
// the list; this screen keeps what is typed and which row awaits a delete
// confirmation.

#include <QUuid>
#include <QWidget>

#include <optional>

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace velmarin {
class CommandBus;
class ConnectionState;
} // namespace velmarin
namespace velmarin::devices {
class RecentConnectionsManager;
struct RecentConnection;
} // namespace velmarin::devices
namespace velmarin::secrets {
class SecretStore;
}

namespace velmarin::ui {

class ConnectView : public QWidget {
    Q_OBJECT

public:
    ConnectView(ConnectionState& state, CommandBus& commands,
                devices::RecentConnectionsManager& recents, secrets::SecretStore& secrets,
                QWidget* parent = nullptr);

    // A complete nine-digit ID and a password.
    bool isInputValid() const;
    // Valid input and not sharing: the state gets the ID and password and
    // "startViewing" is posted.
    void connectIfValid();
    // With the entry's stored password: connect and show it in the form.
    // Without one the form gets the ID and waits for the password.
    void connectToRecent(const QUuid& id);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* buildForm();
    QWidget* buildProblem();
    QWidget* buildRow(const devices::RecentConnection& connection);
    void showRecents();
    void showPasswordVisibility();
    void updateConnectButton();

    ConnectionState& m_state;
    CommandBus& m_commands;
    devices::RecentConnectionsManager& m_recents;
    secrets::SecretStore& m_secrets;

    QLineEdit* m_id = nullptr;
    QLineEdit* m_password = nullptr;
    QAction* m_eye = nullptr;
    QPushButton* m_connect = nullptr;
    QWidget* m_problem = nullptr;
    QLabel* m_problemText = nullptr;
    QWidget* m_recentHeader = nullptr;
    QScrollArea* m_scroll = nullptr;
    QVBoxLayout* m_rows = nullptr;

    bool m_showPassword = false;
    std::optional<QUuid> m_deleteConfirmation;
};

} // namespace velmarin::ui
