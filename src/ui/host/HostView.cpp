#include "ui/host/HostView.h"

#include "app/AppSettings.h"
#include "app/CommandBus.h"
#include "app/ConnectionState.h"
#include "app/IDFormatter.h"
#include "ui/common/ChatPanel.h"
#include "ui/common/Symbols.h"
#include "ui/common/Widgets.h"
#include "ui/permissions/PermissionManager.h"
#include "ui/permissions/PermissionsView.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace velmarin::ui {

namespace {

// Sizes are logical pixels, like the rest of the layout.
QFont monospace(int pixelSize, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QWidget* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

QLabel* selectableValue(const QFont& font, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFont(font);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setCursor(Qt::IBeamCursor);
    return label;
}

// The chat button: the bubble, the word, and a red dot while messages wait.
class ChatButton : public BadgeButton {
public:
    explicit ChatButton(QWidget* parent)
        : BadgeButton(parent) {
        setText(QStringLiteral("Chat"));
        setIcon(symbolIcon(Symbol::chat));
        setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        setAutoRaise(true);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    QPointF badgeCentre() const override {
        const int x = (width() - sizeHint().width()) / 2 + iconSize().width();
        return {x - 0.5, 6.5};
    }
};

} // namespace

HostView::HostView(ConnectionState& state, AppSettings& settings, PermissionManager& permissions,
                   CommandBus& commands, QWidget* parent)
    : QWidget(parent)
    , m_state(state)
    , m_settings(settings)
    , m_permissions(permissions)
    , m_commands(commands) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 16, 24, 12);
    layout->setSpacing(12);

    m_permissionsView = new PermissionsView(permissions, this);
    layout->addWidget(m_permissionsView);
    m_permissionsDivider = divider(this);
    layout->addWidget(m_permissionsDivider);
    layout->addStretch(1);

    auto* statusRow = new QHBoxLayout;
    statusRow->addStretch(1);
    m_statusDot = new StatusDot(this);
    statusRow->addWidget(m_statusDot);
    m_statusText = secondaryLabel({}, 12, this);
    statusRow->addWidget(m_statusText);
    statusRow->addStretch(1);
    layout->addLayout(statusRow);

    layout->addWidget(buildCard());
    layout->addWidget(buildSwitches());

    m_shareButton = new QPushButton(this);
    QFont buttonFont = m_shareButton->font();
    buttonFont.setPixelSize(14);
    buttonFont.setWeight(QFont::DemiBold);
    m_shareButton->setFont(buttonFont);
    m_shareButton->setIconSize(QSize(12, 12));
    m_shareButton->setMinimumHeight(36);
    m_shareButton->setCursor(Qt::PointingHandCursor);
    connect(m_shareButton, &QPushButton::clicked, this, &HostView::toggleSharing);
    layout->addWidget(m_shareButton);
    QWidget* bottomRow = buildBottomRow();
    layout->addWidget(bottomRow);

    // Floats at the right, just above the bottom row with the chat button.
    m_chatPanel = new ChatPanelView(state, commands, this);
    m_chatPanel->anchorBottomRight(layout->contentsMargins().right(),
                                   layout->contentsMargins().bottom() +
                                       bottomRow->sizeHint().height() + 6);

    connect(&state, &ConnectionState::statusChanged, this, &HostView::showStatus);
    connect(&state, &ConnectionState::localIDChanged, this, &HostView::showCredentials);
    connect(&state, &ConnectionState::localPasswordChanged, this, &HostView::showCredentials);
    connect(&state, &ConnectionState::isSharingChanged, this, &HostView::showSharing);
    connect(&state, &ConnectionState::latencyMsChanged, this,
            [this](double ms) { m_latency->setText(QString::asprintf("%.0f ms", ms)); });
    connect(&state, &ConnectionState::unreadChatCountChanged, this, &HostView::showChatBadge);
    connect(&state, &ConnectionState::showChatChanged, this, &HostView::showChatPanel);
    connect(&settings, &AppSettings::useFixedCredentialsChanged, m_fixedSwitch,
            &ToggleSwitch::setChecked);
    connect(&settings, &AppSettings::autoStartHostingChanged, m_autoStartSwitch,
            &ToggleSwitch::setChecked);
    connect(&settings, &AppSettings::launchAtLoginChanged, m_loginSwitch,
            &ToggleSwitch::setChecked);
    connect(&permissions, &PermissionManager::changed, this, &HostView::showPermissions);

    showStatus();
    showCredentials();
    showSharing();
    showPermissions();
    showChatBadge();
    showChatPanel();
}

QWidget* HostView::buildCard() {
    auto* card = new RoundedPanel(10, QPalette::Base, this);
    addShadow(card, 13, 12, 2);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(20, 14, 20, 14);
    layout->setSpacing(4);

    layout->addWidget(secondaryLabel(QStringLiteral("Jouw ID"), 11, card));
    QFont idFont = monospace(30, QFont::Bold);
    idFont.setLetterSpacing(QFont::AbsoluteSpacing, 3);
    m_id = selectableValue(idFont, card);
    m_id->setAccessibleName(QStringLiteral("Jouw ID"));
    layout->addWidget(m_id);
    layout->addSpacing(6);
    layout->addWidget(divider(card));
    layout->addSpacing(6);

    layout->addWidget(secondaryLabel(QStringLiteral("Wachtwoord"), 11, card));
    auto* passwordRow = new QHBoxLayout;
    m_password = selectableValue(monospace(20, QFont::Medium), card);
    m_password->setAccessibleName(QStringLiteral("Wachtwoord"));
    passwordRow->addWidget(m_password, 1);
    auto* regenerate =
        iconButton(symbolIcon(Symbol::refresh), QStringLiteral("Genereer nieuw wachtwoord"), card);
    connect(regenerate, &QAbstractButton::clicked, this,
            [this] { m_state.setLocalPassword(ConnectionState::newSessionPassword()); });
    passwordRow->addWidget(regenerate);
    auto* copy = iconButton(symbolIcon(Symbol::copy), QStringLiteral("Kopieer wachtwoord"), card);
    connect(copy, &QAbstractButton::clicked, this, [this] {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(m_state.localPassword());
    });
    passwordRow->addWidget(copy);
    layout->addLayout(passwordRow);
    return card;
}

QWidget* HostView::buildSwitches() {
    auto* box = new QWidget(this);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(2);

    m_fixedSwitch = new ToggleSwitch(QStringLiteral("Vast ID & wachtwoord"), box);
    m_fixedSwitch->setChecked(m_settings.useFixedCredentials());
    connect(m_fixedSwitch, &ToggleSwitch::toggled, this, &HostView::changeFixedCredentials);
    const auto showLock = [this](bool on) {
        m_fixedSwitch->setIcon(symbolIcon(on ? Symbol::lockClosed : Symbol::lockOpen));
    };
    connect(m_fixedSwitch, &ToggleSwitch::toggled, this, showLock);
    showLock(m_fixedSwitch->isChecked());
    layout->addWidget(m_fixedSwitch);

    m_autoStartSwitch = new ToggleSwitch(QStringLiteral("Automatisch starten"), box);
    m_autoStartSwitch->setIcon(symbolIcon(Symbol::playCircle));
    m_autoStartSwitch->setToolTip(
        QStringLiteral("Start automatisch met delen wanneer de app opent"));
    m_autoStartSwitch->setChecked(m_settings.autoStartHosting());
    connect(m_autoStartSwitch, &ToggleSwitch::toggled, &m_settings,
            &AppSettings::setAutoStartHosting);
    layout->addWidget(m_autoStartSwitch);

    m_loginSwitch = new ToggleSwitch(QStringLiteral("Start bij inloggen"), box);
    m_loginSwitch->setIcon(symbolIcon(Symbol::power));
    m_loginSwitch->setToolTip(QStringLiteral("Start Velmarin automatisch wanneer je inlogt"));
    m_loginSwitch->setChecked(m_settings.launchAtLogin());
    connect(m_loginSwitch, &ToggleSwitch::toggled, &m_settings, &AppSettings::setLaunchAtLogin);
    layout->addWidget(m_loginSwitch);
    return box;
}

QWidget* HostView::buildBottomRow() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    m_latency = secondaryLabel(QString::asprintf("%.0f ms", m_state.latencyMs()), 11, row);
    m_latency->setFont(monospace(11, QFont::Normal));
    m_latency->setAccessibleName(QStringLiteral("Vertraging"));
    layout->addWidget(m_latency);
    layout->addStretch(1);
    auto* chat = new ChatButton(row);
    m_chatButton = chat;
    connect(chat, &QToolButton::clicked, this, [this] {
        m_state.setShowChat(!m_state.showChat());
        if (m_state.showChat())
            m_state.setUnreadChatCount(0);
    });
    layout->addWidget(chat);
    return row;
}

void HostView::toggleSharing() {
    // The button flips at once; the session reports its progress itself.
    m_state.setIsSharing(!m_state.isSharing());
    m_commands.post(m_state.isSharing() ? Command::startHosting : Command::stopHosting);
}

void HostView::changeFixedCredentials(bool on) {
    if (on == m_settings.useFixedCredentials())
        return;
    m_settings.setUseFixedCredentials(on);
    if (on) {
        m_settings.setFixedPassword(m_state.localPassword());
        return;
    }
    m_settings.setFixedID(QString());
    m_settings.setFixedPassword(QString());
    m_state.setLocalPassword(ConnectionState::newSessionPassword());
}

void HostView::showStatus() {
    m_statusDot->setColor(statusColor(m_state.status().kind()));
    m_statusText->setText(m_state.status().displayText());
    // A latency means something only while a Viewer is there.
    m_latency->setVisible(m_state.isSharing() && m_state.status().kind() == Status::Kind::connected);
}

void HostView::showCredentials() {
    const QString& id = m_state.localID();
    m_id->setText(id.isEmpty() ? kNoIDPlaceholder : IDFormatter::format(id));
    const QString& password = m_state.localPassword();
    m_password->setText(password.isEmpty() ? kNoPasswordPlaceholder : password);
}

void HostView::showSharing() {
    showStatus();
    const bool sharing = m_state.isSharing();
    m_shareButton->setText(sharing ? QStringLiteral("Stop delen") : QStringLiteral("Start delen"));
    m_shareButton->setIcon(bundledSymbolIcon(sharing ? Symbol::stop : Symbol::play, Qt::white));
    const QColor tint = sharing ? QColor(0xff, 0x3b, 0x30) : palette().color(QPalette::Highlight);
    m_shareButton->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: white; border: none; "
                       "border-radius: 8px; padding: 6px 16px; }"
                       "QPushButton:hover { background: %2; }")
            .arg(tint.name(), tint.darker(110).name()));
}

void HostView::showPermissions() {
    const bool missing = !m_permissions.allGranted();
    m_permissionsView->setVisible(missing);
    m_permissionsDivider->setVisible(missing);
}

void HostView::showChatBadge() {
    static_cast<ChatButton*>(m_chatButton)->setBadge(m_state.unreadChatCount() >= 1);
}

void HostView::showChatPanel() {
    m_chatPanel->setVisible(m_state.showChat());
}

void HostView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_permissions.checkPermissions();
    if (!m_permissions.allGranted())
        m_permissions.startPolling();
}

void HostView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_permissions.stopPolling();
}

} // namespace velmarin::ui
