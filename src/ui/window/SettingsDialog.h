#pragma once

// "Instellingen…": which relay server to use and which extra certificate
// authority to trust for it. Takes effect at the next start, because the
// running connection belongs to the sessions.

#include <QDialog>

#include <optional>

class QLabel;
class QLineEdit;

namespace velmarin {
class AppSettings;
}

namespace velmarin::ui {

// Why a relay address or CA file cannot be used (Dutch), or nothing when
// both can. An empty address means the built-in server.
std::optional<QString> relayServerProblem(const QString& host, const QString& caFile);

class SettingsDialog : public QDialog {
    Q_OBJECT

public:
    explicit SettingsDialog(AppSettings& settings, QWidget* parent = nullptr);

    void accept() override;

private:
    AppSettings& m_settings;
    QLineEdit* m_host = nullptr;
    QLineEdit* m_caFile = nullptr;
    QLabel* m_problem = nullptr;
};

} // namespace velmarin::ui
