#include "ui/window/SettingsDialog.h"

#include "app/AppSettings.h"
#include "transport/RelayEndpoint.h"
#include "ui/common/Widgets.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmarin::ui {

std::optional<QString> relayServerProblem(const QString& host, const QString& caFile) {
    if (!host.isEmpty()) {
        const auto parsed = transport::parseWebSocketURL("wss://" + host.toStdString());
        const bool plain = !host.contains(QLatin1Char('/')) && !host.contains(QLatin1Char(' ')) &&
                           !host.contains(QLatin1Char('@'));
        if (!parsed || parsed->host.empty() || !plain)
            return QStringLiteral("\"%1\" is geen geldig serveradres. Gebruik een naam of "
                                  "IP-adres, eventueel met :poort.")
                .arg(host);
    }
    if (!caFile.isEmpty()) {
        const QFileInfo file(caFile);
        if (!file.isFile() || !file.isReadable())
            return QStringLiteral("Het certificaatbestand \"%1\" bestaat niet of is niet leesbaar.")
                .arg(caFile);
    }
    return std::nullopt;
}

SettingsDialog::SettingsDialog(AppSettings& settings, QWidget* parent)
    : QDialog(parent)
    , m_settings(settings) {
    setWindowTitle(QStringLiteral("Instellingen"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_host = new QLineEdit(settings.relayHost(), this);
    m_host->setPlaceholderText(QStringLiteral("localhost"));
    form->addRow(QStringLiteral("Relayserver"), m_host);
    auto* caRow = new QHBoxLayout;
    m_caFile = new QLineEdit(settings.relayCAFile(), this);
    m_caFile->setPlaceholderText(QStringLiteral("Alleen voor een eigen certificaat"));
    caRow->addWidget(m_caFile, 1);
    auto* choose = new QPushButton(QStringLiteral("Kies…"), this);
    connect(choose, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(
            this, QStringLiteral("Certificaat kiezen"), m_caFile->text(),
            QStringLiteral("Certificaten (*.pem *.crt);;Alle bestanden (*)"));
        if (!file.isEmpty())
            m_caFile->setText(file);
    });
    caRow->addWidget(choose);
    form->addRow(QStringLiteral("Certificaat (CA)"), caRow);
    layout->addLayout(form);

    auto* note = secondaryLabel(
        QStringLiteral("Laat leeg om de standaardserver te gebruiken. Wijzigingen gelden "
                       "vanaf de volgende start van Velmarin."),
        11, this);
    note->setWordWrap(true);
    layout->addWidget(note);
    if (qEnvironmentVariableIsSet("VELMARIN_RELAY_HOST") ||
        qEnvironmentVariableIsSet("VELMARIN_RELAY_CA")) {
        auto* environment = secondaryLabel(
            QStringLiteral("Let op: VELMARIN_RELAY_HOST of VELMARIN_RELAY_CA is gezet; die "
                           "waarde gaat voor deze instellingen."),
            11, this);
        environment->setWordWrap(true);
        layout->addWidget(environment);
    }
    m_problem = new QLabel(this);
    m_problem->setWordWrap(true);
    m_problem->setStyleSheet(QStringLiteral("color: #ff3b30;"));
    m_problem->hide();
    layout->addWidget(m_problem);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Save)->setText(QStringLiteral("Bewaren"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Annuleren"));
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);
    layout->addWidget(buttons);
    setMinimumWidth(440);
}

void SettingsDialog::accept() {
    const QString host = m_host->text().trimmed();
    const QString caFile = m_caFile->text().trimmed();
    if (const auto problem = relayServerProblem(host, caFile)) {
        m_problem->setText(*problem);
        m_problem->show();
        return;
    }
    m_settings.setRelayServer(host, caFile);
    QDialog::accept();
}

} // namespace velmarin::ui
