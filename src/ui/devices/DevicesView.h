#pragma once

// The devices tab: the saved devices with their presence, a form to add one,
// renaming and deleting in place, and "Verbinden" with the stored password.
// The device book holds the list; this screen keeps only what is being typed
// and which row is being renamed or confirmed for deletion. Presence is
// polled while the tab shows and always asks about the book's current IDs.

#include <QDateTime>
#include <QHash>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace velmarin {
class CommandBus;
class ConnectionState;
class PresenceManager;
} // namespace velmarin
namespace velmarin::devices {
class DeviceBookManager;
struct SavedDevice;
} // namespace velmarin::devices
namespace velmarin::secrets {
class SecretStore;
}

namespace velmarin::ui {

class StatusDot;

class DevicesView : public QWidget {
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    // `now` is for tests.
    DevicesView(ConnectionState& state, CommandBus& commands, devices::DeviceBookManager& book,
                PresenceManager& presence, secrets::SecretStore& secrets, Clock now = {},
                QWidget* parent = nullptr);

    // Nine digits and a password; the name may be empty.
    bool isFormValid() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Row {
        StatusDot* dot = nullptr;
        QLabel* status = nullptr;
    };

    QWidget* buildHeader();
    QWidget* buildForm();
    QWidget* buildEmptyState();
    QWidget* buildRow(const devices::SavedDevice& device);
    void openForm(bool open);
    void resetForm();
    void saveDevice();
    void showDevices();
    void showPresence();
    void followBook();
    void connectTo(const QUuid& id);

    ConnectionState& m_state;
    CommandBus& m_commands;
    devices::DeviceBookManager& m_book;
    PresenceManager& m_presence;
    secrets::SecretStore& m_secrets;
    Clock m_now;

    QPushButton* m_formButton = nullptr;
    QWidget* m_form = nullptr;
    QLineEdit* m_newName = nullptr;
    QLineEdit* m_newID = nullptr;
    QLineEdit* m_newPassword = nullptr;
    QPushButton* m_saveButton = nullptr;
    QWidget* m_emptyState = nullptr;
    QScrollArea* m_scroll = nullptr;
    QWidget* m_list = nullptr;
    QVBoxLayout* m_rows = nullptr;
    QHash<QString, Row> m_rowByHostID;

    std::optional<QUuid> m_editing;
    QString m_editingName;
    std::optional<QUuid> m_deleteConfirmation;
    bool m_shown = false;
};

} // namespace velmarin::ui
